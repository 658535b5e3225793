// Writes 8-bit RGB pictures as PNG files (libpng).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `rgb` holds width * height * 3 bytes, rows top to bottom. Returns false
// (and leaves no half-written promise) when the file cannot be written.
bool WriteRgbPng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);
