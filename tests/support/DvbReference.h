// FFmpeg's DVB subtitle decoder as the independent reference of what a
// display set shows, and the comparison of a screen (720 x 576 unless told
// otherwise) with it:
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

// The screen's pixels row by row: 0xAARRGGBB words, or palette indices on
// an 8-bit screen.
using Screen = std::vector<uint32_t>;

// What the reference decoder is told of the stream: the pages to keep
// (dvb_substream 0 and the ids as extradata; -1 keeps every page) and the
// display its pictures are composed for. Pictures of a display other than
// the screen are scaled onto it by area (ScaleByArea).
struct Options {
    int compositionPage = -1;
    int ancillaryPage = -1;
    int displayWidth = kWidth;
    int displayHeight = kHeight;
    int screenWidth = kWidth;
    int screenHeight = kHeight;
};

class FfmpegDecoder {
public:
    explicit FfmpegDecoder(const Options& options = Options());
    ~FfmpegDecoder();
    FfmpegDecoder(const FfmpegDecoder&) = delete;
    FfmpegDecoder& operator=(const FfmpegDecoder&) = delete;
    bool Ok() const;
    // Feeds one whole PES packet (its segments, from the first sync byte);
    // true with the screen FFmpeg's output shows (clipped to the display) when
    // the packet completes a display set.
    bool Decode(const uint8_t* pes, size_t size, Screen& screen);

private:
    struct Context;
    std::unique_ptr<Context> ctx_;
    Options options_;
};

// Empty string when `ours` shows what `reference` does (see above), else
// the first difference ("x,y: alpha 255 != 0", on a screen `width` pixels
// wide). `maxColourDiff` grows to the largest colour difference seen on a
// 32-bit screen.
std::string Compare(const Screen& ours, const Screen& reference, int bitsPerPixel, int* maxColourDiff,
                    int width = kWidth);
// Pixels that show something (alpha > 0 at 32 bpp, index not transparent at 8).
int Ink(const Screen& screen, int bitsPerPixel);
// A 32-bit screen reduced to where it shows something (opaque black there,
// 0 elsewhere): what Compare can still check when both decoders fell back
// on their own default colours, which differ.
Screen Visible(const Screen& screen);

// A picture of width x height 0xAARRGGBB pixels averaged onto a screen of
// screenWidth x screenHeight: each screen pixel gets the area-weighted mean
// of the picture pixels it covers, colours weighted by alpha. Plain
// floating point, pixel by pixel.
Screen ScaleByArea(const Screen& picture, int width, int height, int screenWidth = kWidth,
                   int screenHeight = kHeight);

// Intersection over union of two screens' pixel sets: opaque (alpha of at
// least 128) and light (opaque, with a luma of at least 128: text).
double OpaqueIoU(const Screen& a, const Screen& b);
double LightIoU(const Screen& a, const Screen& b);

// A subtitle bitmap for FFmpeg's own DVB subtitle encoder.
struct Bitmap {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<uint8_t> indices;    // width x height
    std::vector<uint32_t> palette;   // 0xAARRGGBB; its size picks the depth
};
// One display set as FFmpeg's encoder (avcodec_encode_subtitle) writes
// it, as a whole PES packet. With a display size the encoder also writes
// a display definition. Empty when the encoder is not there or fails.
std::vector<uint8_t> EncodeWithFfmpeg(const std::vector<Bitmap>& bitmaps, int displayWidth = 0,
                                      int displayHeight = 0);

}  // namespace dvbref
