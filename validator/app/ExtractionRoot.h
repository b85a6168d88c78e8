#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace Validator {

// The extraction root of one package: created with mkdtemp, registered for
// removal on an interrupt, and removed with everything in it on every path
// out of the run. Only by the process that made it: a copy that a fork left
// in a child process (the package's supervisor or validator) never removes
// the tree, even when that child unwinds.
class ExtractionRoot {
public:
    // Nothing when no directory can be made; `error` then says why.
    static std::optional<ExtractionRoot> create(std::string& error);

    ExtractionRoot(ExtractionRoot&& other) noexcept;
    ExtractionRoot(const ExtractionRoot&) = delete;
    ExtractionRoot& operator=(const ExtractionRoot&) = delete;
    ExtractionRoot& operator=(ExtractionRoot&&) = delete;
    ~ExtractionRoot();

    // Removes the tree now; false when some of it is left, and a later
    // call (the destructor's) may try again. Meant for a quiet tree: every
    // process that could write into it must have ended.
    bool remove() const;

    const std::string& path() const { return m_path; }

private:
    explicit ExtractionRoot(std::string path);
    bool mine() const;

    std::string m_path;
    pid_t m_maker;
};

} // namespace Validator
