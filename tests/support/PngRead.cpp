#include "PngRead.h"

#include <png.h>

namespace pngread {

// Through libpng's simplified API.
std::vector<uint8_t> ReadRgb(const std::string& path, int& width, int& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    width = int(image.width);
    height = int(image.height);
    return rgb;
}

}  // namespace pngread
