#pragma once

#include "core/IValidator.h"

#include <map>
#include <memory>
#include <string>

namespace Validator {

// Offers every file of one package to the eight validators in a fixed
// order, runs their final checks, and reports each step's verdict.
class Dispatcher {
public:
    Dispatcher(const Config& config, const RpmMeta& meta);
    // Shares the model rather than copying it: a package of many files has
    // a large one.
    Dispatcher(const Config& config, std::shared_ptr<const RpmMeta> meta);
    ~Dispatcher();

    // Opens the extraction root for the validators, which find it through
    // the shared context. It must exist already; its content may still come.
    void setUnpackDir(const std::string& directory);

    // True when the step failed.
    bool validateFile(const std::string& path, const std::string& fullPath);
    bool finish();

    static void setColor(bool on) { Logger::setColor(on); }
    void setFindingSink(FindingSink* sink) { m_context.logger->setSink(sink); }
    void setRecording(const RecordingOptions& options) { m_context.logger->setRecording(options, m_context.meta->name()); }

    const Logger& logger() const { return *m_context.logger; }

private:
    bool stepVerdict();

    std::string m_currentPath;
    std::string m_currentFullPath;
    ValidationContext m_context;
    std::map<int, std::shared_ptr<IValidator>> m_validators;
};

} // namespace Validator
