#pragma once

#include "core/Message.h"

#include <cstddef>
#include <string_view>

namespace Validator {

// Receives every finding a message store prints, after the store dropped
// repeats, so that a second record of the run (a machine-readable report)
// holds exactly what the text shows.
class FindingSink {
public:
    virtual ~FindingSink() = default;
    virtual void found(std::string_view group, std::size_t code, const Message& message) = 0;
    // The package could not be validated to its end, for `reason`.
    virtual void notValidated(std::string_view reason) = 0;
};

} // namespace Validator
