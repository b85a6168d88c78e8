#pragma once

#include <cstddef>

namespace Validator {

// How many packages may be validated at once within the process's limit on
// open files (RLIMIT_NOFILE), so that --jobs queues packages rather than
// failing them for want of a descriptor.
//
// A package in flight holds `perPackage` descriptors in this process (its
// output captures, its report channel, the lifeline of its supervisor) until
// its output is printed. Its
// supervising and validating processes inherit what this process has open
// at their fork, less what belongs to other packages, which they close, and
// open their own on top: the package file, the rpm database, the pipes
// between rpm2cpio and cpio, and the files the checks read, a few at a time.
// The limit counts in each process separately.
class DescriptorBudget {
public:
    // Counts what this process has open now and reads the limit.
    explicit DescriptorBudget(std::size_t perPackage);

    // Up to `wanted`, as many packages as fit, and never fewer than one.
    std::size_t packagesInFlight(std::size_t wanted) const;

    // After running out of descriptors with `held` packages holding
    // theirs: fewer, so that this process gets its reserve back.
    std::size_t afterRunningOut(std::size_t held) const;

    // Whether the validating process of even one package may run out.
    bool tooLowForOne() const { return neededForOne() > m_limit; }
    std::size_t limit() const { return m_limit; }
    std::size_t neededForOne() const;

private:
    std::size_t m_limit;
    std::size_t m_open;
    std::size_t m_perPackage;
};

} // namespace Validator
