#pragma once

#include "core/Message.h"

#include <span>

namespace Validator {

// Every message group a package run can record into, in a fixed order: the
// reports list one entry per group, whether it drew findings or not.
std::span<const MessageGroup* const> allMessageGroups();

} // namespace Validator
