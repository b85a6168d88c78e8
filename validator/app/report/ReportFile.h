#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace Validator {

// The report's file, written under a temporary name beside its place and
// renamed into place only when the run has ended, so a crash or an
// interrupt never leaves half a report where a pipeline looks for one (the
// interrupt clean-up removes the temporary file too).
class ReportFile {
public:
    // Nothing, with `error` set, when the file cannot be written there.
    static std::unique_ptr<ReportFile> create(const std::string& path, std::string& error);
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    void write(std::string_view bytes);
    // Flushes the file to disk and renames it into place; false with
    // `error` set when any write failed or the rename did, and then nothing
    // is left behind.
    bool commit(std::string& error);

private:
    ReportFile(std::string path, std::string temporary, int fd);
    void discard();

    std::string m_path;
    std::string m_temporary;
    int m_fd = -1;
    int m_writeError = 0;
};

} // namespace Validator
