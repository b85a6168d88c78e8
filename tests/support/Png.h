#pragma once

#include "TestKit.h"

#include <string>
#include <vector>

namespace TestKit {

// The bytes of a PNG image written with libpng: `width` by `height` pixels
// of a gradient, in the given colour type (a PNG_COLOR_TYPE_* value) and bit
// depth, optionally interlaced.
std::string png(unsigned width, unsigned height, int colorType = 6 /* RGBA */, int bitDepth = 8,
                bool interlaced = false);

// A PNG whose header declares `width` by `height` pixels, followed by a
// little image data and the end chunk: what a file claiming a huge image
// looks like without being huge itself.
std::string pngHeaderOnly(unsigned width, unsigned height);

// Launcher icons of package `name` at the default sizes (86, 108, 128 and
// 172 pixels) in the hicolor theme, as package entries.
std::vector<Entry> launcherIcons(const std::string& name);

} // namespace TestKit
