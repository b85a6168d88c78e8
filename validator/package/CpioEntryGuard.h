#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>

namespace Validator {

// Follows a cpio "newc" stream (magic 070701 or 070702) as it passes by in
// arbitrary pieces and judges every entry name. It only reads the stream;
// the bytes themselves are forwarded unchanged by the caller.
class CpioEntryGuard {
public:
    enum class State { Reading, Finished, Refused };

    // An entry whose header and name were judged acceptable.
    struct Entry {
        std::string name;  // without "./", empty or "." components
        std::uint32_t mode = 0;
        std::uint64_t links = 0;
        std::uint64_t fileSize = 0;
        std::uint64_t end = 0;  // stream offset just past its data and padding
    };
    // Told about every accepted entry, in archive order, while feed() runs.
    void setEntryObserver(std::function<void(const Entry&)> observer) { m_observer = std::move(observer); }

    // Consumes the next piece of the stream.
    State feed(const char* data, std::size_t length);

    // How many of the next bytes are entry data (or padding, or what follows
    // the trailer when the stream is finished) that the guard need not see; the
    // caller may pass them on unread and report them with skip().
    std::uint64_t skippable() const;
    void skip(std::uint64_t length);
    // How many bytes the guard must see before it can judge the next part
    // (the rest of a header or of a name); 0 while data can be skipped.
    std::uint64_t wanted() const;

    // Stream offset up to which every byte was judged: the bytes before it
    // may reach cpio. A header or name still incomplete (or refused) starts
    // here; once the stream is finished, everything fed so far.
    std::uint64_t judged() const { return m_phase == Phase::Data || m_state == State::Finished ? m_offset : m_entryStart; }

    State state() const { return m_state; }
    // Why the stream was refused.
    const std::string& reason() const { return m_reason; }

private:
    enum class Phase { Header, Name, Data };

    void refuse(std::string reason);
    void headerComplete();
    void nameComplete();

    State m_state = State::Reading;
    Phase m_phase = Phase::Header;
    std::string m_buffer;          // header or name bytes collected so far
    std::uint64_t m_need = 110;    // bytes still wanted in the current phase
    std::uint64_t m_nameSize = 0;
    std::uint64_t m_dataSize = 0;  // name padding, entry data and its padding
    std::uint32_t m_mode = 0;
    std::uint64_t m_links = 0;
    std::uint64_t m_fileSize = 0;
    std::uint64_t m_offset = 0;    // stream position, for padding
    std::uint64_t m_entryStart = 0;  // stream position of the current header
    std::function<void(const Entry&)> m_observer;
    std::unordered_set<std::string> m_symlinks;
    std::string m_reason;
};

} // namespace Validator
