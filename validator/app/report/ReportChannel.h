#pragma once

#include "app/report/PackageReport.h"
#include "common/UniqueFd.h"
#include "core/FindingSink.h"

#include <string>
#include <string_view>

namespace Validator {

// Carries what one package's child process found back to the parent, which
// writes the report. An anonymous in-memory file made before the fork: the
// child appends records (ReportRecords.h) to it as findings come, the parent
// reads it once the child has ended, so neither side ever waits on the other
// and records written before a crash still arrive.
class ReportChannel final : public FindingSink {
public:
    // Throws std::system_error when no such file can be made.
    ReportChannel();
    ReportChannel(const ReportChannel&) = delete;
    ReportChannel& operator=(const ReportChannel&) = delete;

    // Child side.
    void found(const RecordedFinding& finding) override;
    void profileChosen(std::string_view profile, std::string_view source);
    void headerRead(const PackageHeader& header);
    void notValidated(std::string_view reason) override;

    // Parent side, after the child has ended: adds what the child recorded
    // to `report`. A record cut short by the child's end is dropped.
    void collect(PackageReport& report) const;

private:
    void append(const std::string& record);

    Common::UniqueFd m_fd;
};

} // namespace Validator
