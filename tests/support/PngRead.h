// A PNG read back, for checking the screens the simulator writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pngread {

// The picture as RGB, 3 bytes a pixel, row by row; empty if unreadable.
std::vector<uint8_t> ReadRgb(const std::string& path, int& width, int& height);

}  // namespace pngread
