#pragma once

#include "core/FindingSink.h"

#include <iosfwd>
#include <mutex>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

namespace Validator {

// Holds back what is written to std::cout and std::cerr from its creation
// until release() or discard(), keeping the order of the two streams.
//
// The checks of a package run while its payload is still being unpacked,
// but their findings must appear after everything the extraction prints,
// and not at all when the extraction fails. Only the validating thread may
// write to the two streams meanwhile (the extraction writes its own lines
// straight to the descriptor).
//
// Findings handed to it as a sink are held alike and go on to `forward`
// (the report) on release, so that the report too holds only what the text
// shows.
class HeldOutput final : public FindingSink {
public:
    explicit HeldOutput(FindingSink* forward = nullptr);
    ~HeldOutput();  // discards what was not released
    HeldOutput(const HeldOutput&) = delete;
    HeldOutput& operator=(const HeldOutput&) = delete;

    // Puts the streams back and writes what was held to them, in order.
    // Only the first call of release() or discard() does anything.
    void release();
    // Puts the streams back and forgets what was held.
    void discard();

    void found(const RecordedFinding& finding) override;
    void notValidated(std::string_view reason) override;

private:
    class Capture : public std::streambuf {
    public:
        Capture(HeldOutput& owner, int stream) : m_owner(owner), m_stream(stream) {}

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* data, std::streamsize length) override;

    private:
        HeldOutput& m_owner;
        int m_stream;
    };

    struct Piece {
        int stream;  // 0 standard output, 1 standard error
        std::string text;
    };

    void append(int stream, const char* data, std::size_t length);
    bool restore();

    // A finding, or with an empty group the reason a run stopped.
    struct HeldFinding {
        std::string group;
        std::size_t code = 0;
        std::string rule;
        Message message;
        std::vector<std::string> arguments;
        std::optional<std::string> path;
        AcceptedBy acceptedBy = AcceptedBy::None;
    };

    std::mutex m_mutex;
    std::vector<Piece> m_pieces;
    FindingSink* m_forward;
    std::vector<HeldFinding> m_findings;
    Capture m_out{*this, 0};
    Capture m_err{*this, 1};
    std::streambuf* m_savedOut = nullptr;
    std::streambuf* m_savedErr = nullptr;
    bool m_holding = false;
};

} // namespace Validator
