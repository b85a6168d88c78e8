#pragma once

#include "app/report/PackageReport.h"
#include "core/FindingSink.h"
#include "core/Message.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace Validator::ReportRecords {

// The records a package's child process appends to its report channel, and
// the parent's reading of them once the child has ended. A record is one
// kind byte followed by its fields, each a 32-bit length in this machine's
// byte order and that many bytes: writer and reader are one program on one
// machine, so no byte order needs agreeing on.
//
// The reader trusts nothing of what it reads: the child may have crashed
// mid-record, or been driven into writing anything at all.

std::string finding(const RecordedFinding& finding);
// The record a child would write for a finding the parent read.
std::string finding(const Finding& finding);
std::string header(const PackageHeader& header);
std::string profile(std::string_view name);
std::string profileSource(std::string_view source);
std::string notValidated(std::string_view reason);

// Adds what `bytes` records to `report`, record by record, up to the first
// one that is cut short or malformed; that one and everything after it are
// dropped. Returns false when it stopped early.
bool read(std::string_view bytes, PackageReport& report);

} // namespace Validator::ReportRecords
