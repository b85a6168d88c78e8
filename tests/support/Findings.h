#pragma once

// Helpers for comparing findings exactly as vetrik prints them (colour off).

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace TestKit {

inline std::string warning(const std::string& text) { return "(WARNING)\t" + text; }
inline std::string error(const std::string& text) { return "(ERROR)\t\t" + text; }
inline std::string critical(const std::string& text) { return "(CRITICAL)\t" + text; }
inline std::string info(const std::string& text) { return "(INFO)\t\t" + text; }

// What a message store writes to standard error while the object lives.
class StderrCapture {
public:
    StderrCapture() : m_old(std::cerr.rdbuf(m_buffer.rdbuf())) {}
    ~StderrCapture() { std::cerr.rdbuf(m_old); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string text() const { return m_buffer.str(); }

private:
    std::ostringstream m_buffer;
    std::streambuf* m_old;
};

// The header checks print first, from a message store of their own. Where
// a test of the file validators needs a link, a named pipe or a program
// outside the places for programs, the header checks' leading lines about
// it are dropped; every other line is kept for comparison.
std::vector<std::string> fileValidatorLines(const std::vector<std::string>& findings);

// The severity-tagged lines among a run's lines, which are its findings.
std::vector<std::string> findingLines(const std::vector<std::string>& lines);

} // namespace TestKit
