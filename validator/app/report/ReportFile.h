#pragma once

#include "common/UniqueFd.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Validator {

// The report's file, written where nobody sees it and put into place only
// when the run has ended, so a crash, an interrupt or even SIGKILL never
// leaves half a report where a pipeline looks for one.
//
// It is an unnamed file (O_TMPFILE) in the report's directory, given a
// name at the end. A report path that is a symbolic link is written through
// to the link's target, as a shell's redirection would: the link stays and
// its target is replaced (or made, for a dangling link). Where the file
// system has no unnamed files, a hidden temporary file with a short name
// beside the target stands in for it, removed by the interrupt clean-up.
class ReportFile {
public:
    // Nothing, with `error` set, when the report cannot be written there:
    // also when its target is one of `inputs` (the package arguments, by
    // device and inode, so links count too) or an RPM package, since
    // writing it would destroy what the run was asked to read. Nothing is
    // created or changed then.
    static std::unique_ptr<ReportFile> create(const std::string& path, const std::vector<std::string>& inputs,
                                              std::string& error);
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    void write(std::string_view bytes);
    // Writes over the file's first bytes, as many as `bytes` holds: for a
    // beginning that could only be told at the end.
    void rewriteStart(std::string_view bytes);
    // Flushes the file to disk and puts it into place, atomically replacing
    // what was there; false with `error` set when any write failed or
    // putting it into place did, and then nothing is left behind.
    bool commit(std::string& error);

private:
    ReportFile(Common::UniqueFd directory, std::string name, Common::UniqueFd file, std::string temporary);
    bool link(std::string& error);
    void forgetTemporary();

    Common::UniqueFd m_directory;  // where the target is
    std::string m_name;            // the target's name in it
    Common::UniqueFd m_file;
    std::string m_temporary;  // the stand-in's name in m_directory; empty for an unnamed file
    int m_writeError = 0;
};

} // namespace Validator
