#pragma once

#include "core/FindingAcceptance.h"
#include "core/FindingSink.h"
#include "core/Message.h"

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>

namespace Validator {

// Flags through which validators tell each other what they found. Keys
// 5, 6 and 8 to 13 are the executable validator's own bookkeeping.
enum class Flag : std::uint32_t {
    DesktopFileSeen = 0,
    QmlOnlyApp = 1,
    VarnelQt5Declared = 2,
    NoSandboxSection = 3,
    ArchSpecificContent = 4,
    ExecutableInBinDir = 5,
    MainBinaryExamined = 6,
    ImportsVarnel = 7,
    LinksLibcStartMain = 8,
    ExportsMain = 9,
    HasOtherSymbols = 10,
    NeedsShippedLibrary = 11,
    HasRpath = 12,
    RpathAllowed = 13,
};

// What a run asks of every store beyond printing; all off by default, which
// is the text output the scripts of the field read.
struct RecordingOptions {
    // Findings accepted as known: not printed, and no step fails for them.
    const FindingAcceptance* acceptance = nullptr;
    // Each printed finding line ends in " [rule-name]".
    bool ruleNames = false;
};

// The per-package message store. Prints every message to standard error as
// it is recorded, drops exact repeats, and remembers whether an error or a
// critical message was recorded since the marks were last cleared.
class Logger {
public:
    Logger();

    template <MessageCode Code>
    void add(Code code, std::initializer_list<std::string_view> arguments = {})
    {
        addFrom(messageGroupOf(code), static_cast<std::size_t>(code),
                std::span<const std::string_view>(arguments.begin(), arguments.size()));
    }
    void addFrom(const MessageGroup& group, std::size_t code, std::span<const std::string_view> arguments);

    void setFlag(std::uint32_t key, bool value);
    bool getFlag(std::uint32_t key) const;
    void setFlag(Flag flag, bool value) { setFlag(static_cast<std::uint32_t>(flag), value); }
    bool getFlag(Flag flag) const { return getFlag(static_cast<std::uint32_t>(flag)); }

    bool errorSeen() const { return m_errorSeen; }
    bool criticalSeen() const { return m_criticalSeen; }
    void clearMarks();

    // The verdict of the step that just ended (true: failed), after which
    // the marks are cleared. Errors fail a step only with full checks on.
    bool takeStepVerdict(bool fullChecks);

    // Where recorded findings also go, as data; none by default. The sink
    // must outlive the store.
    void setSink(FindingSink* sink) { m_sink = sink; }
    // `package` is the package's name, by which a baseline lists findings.
    // The acceptance must outlive the store.
    void setRecording(const RecordingOptions& options, std::string package);
    // The packaged file being validated, which a finding concerns unless its
    // message names a path of its own; none between files.
    void setCurrentFile(std::string_view path)
    {
        m_currentFile = path;
        m_inFile = true;
    }
    void clearCurrentFile() { m_inFile = false; }

    // The process-wide colour switch of the severity tags.
    static void setColor(bool on);
    static bool color();

private:
    void print(const Message& message, std::string_view rule) const;

    std::unordered_set<Message, MessageHash> m_recorded;
    // Apart from m_recorded: a finding accepted once must not hide an equal
    // text that is not accepted (two arguments that print alike).
    std::unordered_set<Message, MessageHash> m_accepted;
    std::map<std::uint32_t, bool> m_flags;
    bool m_errorSeen = false;
    bool m_criticalSeen = false;
    FindingSink* m_sink = nullptr;
    RecordingOptions m_options;
    std::string m_package;
    // Kept between files, so that its buffer is reused.
    std::string m_currentFile;
    bool m_inFile = false;
};

} // namespace Validator
