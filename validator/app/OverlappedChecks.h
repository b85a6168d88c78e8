#pragma once

#include "core/Config.h"
#include "core/Logger.h"
#include "package/RpmMeta.h"

#include <memory>
#include <string>

namespace Validator {

class ReportChannel;

// Unpacks the package's payload into `root` and validates every file of
// its header, then the package as a whole. Each file is validated as soon
// as it is final on disk, on a thread of its own, so that the checks take
// the processor time the extraction leaves idle; the output is nonetheless
// exactly what validating the finished tree prints. Returns true when the
// package failed, or could not be validated (the reason then printed and
// reported). `recording` says which findings are accepted and whether the
// finding lines name their rules.
bool unpackAndCheck(const std::string& package, const Config& config, const std::shared_ptr<const RpmMeta>& meta,
                    const std::string& root, const RecordingOptions& recording, ReportChannel* channel);

} // namespace Validator
