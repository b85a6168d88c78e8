#pragma once

#include "common/UniqueFd.h"

namespace Validator {

// The output of a package validated while others are (--jobs) is kept
// apart until its turn to be printed comes: standard output and error of
// its processes lead into captures, copied out whole once it and every
// package before it have ended.

// An unlinked file in memory that takes a package's output; empty when none
// can be made (errno says why).
Common::UniqueFd makeCapture();

// Whether standard output and error lead to the same place (a terminal, or
// one file with 2>&1); their lines then share one capture, in the order
// they were written.
bool outputsShareDestination();

// Copies everything the capture holds, from its start, to `destination`.
void copyCapture(int capture, int destination);

} // namespace Validator
