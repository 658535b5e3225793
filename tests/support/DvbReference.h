// FFmpeg's DVB subtitle decoder as the independent reference of what a
// display set shows, and the comparison of a 720 x 576 screen with it:
//  - 32 bits per pixel: the same alpha at every pixel (so the same regions,
//    positions and opaque/transparent pixels); colours may differ by the
//    conversion formula only (BT.709 in the daemon, BT.601 in FFmpeg);
//  - 8 bits per pixel: drawn wherever FFmpeg shows something, and outside
//    that only with a low CLUT index (palette indices go to the hardware as
//    decoded, so only places are compared).
// Link libavcodec and libavutil to use it (see tests/e2e/extra.cmake).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dvbref {

constexpr int kWidth = 720;
constexpr int kHeight = 576;
// BT.709 against BT.601 on the colours of the samples stays inside this.
constexpr int kColourTolerance = 48;

// 720 x 576 pixels: 0xAARRGGBB words, or palette indices on an 8-bit screen.
using Screen = std::vector<uint32_t>;

class FfmpegDecoder {
public:
    FfmpegDecoder();
    ~FfmpegDecoder();
    FfmpegDecoder(const FfmpegDecoder&) = delete;
    FfmpegDecoder& operator=(const FfmpegDecoder&) = delete;
    bool Ok() const;
    // Feeds one whole PES packet (its segments, from the first sync byte);
    // true with the screen FFmpeg's output shows (clipped at 720 x 576) when
    // the packet completes a display set.
    bool Decode(const uint8_t* pes, size_t size, Screen& screen);

private:
    struct Context;
    std::unique_ptr<Context> ctx_;
};

// Empty string when `ours` shows what `reference` does (see above), else
// the first difference ("x,y: alpha 255 != 0"). `maxColourDiff` grows to
// the largest colour difference seen on a 32-bit screen.
std::string Compare(const Screen& ours, const Screen& reference, int bitsPerPixel, int* maxColourDiff);
// Pixels that show something (alpha > 0 at 32 bpp, index not transparent at 8).
int Ink(const Screen& screen, int bitsPerPixel);
// A 32-bit screen reduced to where it shows something (opaque black there,
// 0 elsewhere): what Compare can still check when both decoders fell back
// on their own default colours, which differ.
Screen Visible(const Screen& screen);

}  // namespace dvbref
