// Scaling onto a 32-bit screen against the plain rule: every screen pixel
// the area average of the display pixels under it, premultiplied by alpha,
// summed tap by tap in whole numbers and rounded half up. The composition
// sums rows and columns apart and takes shortcuts for runs; whatever the
// display, screen, region size, position and colours, each pixel must
// come out as the rule gives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "dvbsub/CheckingDisplay.h"
#include "render/DvbCompose.h"

namespace {

struct Tap {
    long pixel, weight;  // region pixel, overlap in 1/screen display pixels
};

// The region pixels under screen pixel s of an axis, with their overlaps.
std::vector<Tap> Taps(long s, long pos, long len, long display, long screen) {
    std::vector<Tap> taps;
    const long lo = s * display, hi = (s + 1) * display;
    for (long i = pos; i < pos + len; ++i) {
        const long from = std::max(i * screen, lo), to = std::min((i + 1) * screen, hi);
        if (to > from) taps.push_back({i - pos, to - from});
    }
    return taps;
}

uint32_t Rule(const std::vector<uint8_t>& pixels, int width, const uint32_t* words, const std::vector<Tap>& tx,
              const std::vector<Tap>& ty, uint64_t area) {
    uint64_t sa = 0, sums[3] = {0, 0, 0};
    for (const Tap& y : ty)
        for (const Tap& x : tx) {
            const uint32_t w = words[pixels[size_t(y.pixel) * width + x.pixel]];
            const uint64_t a = (w >> 24) * uint64_t(y.weight) * uint64_t(x.weight);
            sa += a;
            for (int c = 0; c < 3; ++c) sums[c] += a * ((w >> (16 - 8 * c)) & 0xFF);
        }
    // Alpha over the area, each colour over the alphas: rounded half up.
    const uint64_t alpha = (2 * sa + area) / (2 * area);
    if (!alpha) return 0;
    uint32_t word = uint32_t(alpha) << 24;
    for (int c = 0; c < 3; ++c) word |= uint32_t((2 * sums[c] + sa) / (2 * sa)) << (16 - 8 * c);
    return word;
}

// A region of runs and single pixels in a few colours, some of them part
// transparent, as anti-aliased text has them.
void Fill(std::mt19937& random, std::vector<uint8_t>& pixels, int codes) {
    for (size_t i = 0; i < pixels.size();) {
        const size_t run = random() % 3 ? 1 + random() % 24 : 1;
        const uint8_t code = uint8_t(random() % codes);
        for (size_t k = 0; k < run && i < pixels.size(); ++k) pixels[i++] = code;
    }
}

TEST(Scaling, EveryScreenPixelIsTheAreaAverageOfTheRule) {
    const int displays[][2] = {{1920, 1080}, {1280, 720}, {320, 240}, {704, 576}, {960, 540}, {1919, 1079}};
    // The screens: standard, HD (enlarging most displays), and one small
    // enough that a full HD display puts more display pixels under a screen
    // pixel than the separable sums take.
    const int screens[][2] = {{kScreenWidth, kScreenHeight}, {1280, 720}, {320, 240}};
    std::mt19937 random(7);
    for (const auto& size : displays)
        for (int round = 0; round < 6 * 3; ++round) {
            const int* on = screens[round % 3];
            CheckingDisplay screen(false, 32);
            const render::Display display{size[0], size[1]};
            // What lies past this 720 x 576 screen is clipped, as on a zoom.
            render::Placement onScreen(render::Display{on[0], on[1]});
            onScreen.visibleWidth = std::min(on[0], kScreenWidth);
            onScreen.visibleHeight = std::min(on[1], kScreenHeight);
            pages::DvbRegion region{};
            uint32_t* words = region.argb;
            for (int i = 0; i < 16; ++i) {
                const uint32_t rgb = uint32_t(random() & 0xFFFFFFu);
                words[i] = rgb | uint32_t(random() % 3 ? 255 : random() % 256) << 24;
            }
            region.width = 1 + int(random() % 300);
            region.height = 1 + int(random() % 120);
            std::vector<uint8_t> pixels(size_t(region.width) * region.height);
            Fill(random, pixels, 16);
            region.codes = pixels.data();
            const int x = int(random() % size[0]), y = int(random() % size[1]);
            region.x = x, region.y = y;
            render::ImageBuffer image;
            screen.Lock();
            render::ComposeRegion(screen, display, onScreen, region, image);
            screen.UnLock();
            const uint32_t area = uint32_t(size[0]) * uint32_t(size[1]);
            for (const CheckingDisplay::Blit& b : screen.argbBlits)
                for (int sy = b.y; sy < b.y + b.height; ++sy) {
                    const auto ty = Taps(sy, y, region.height, size[1], on[1]);
                    for (int sx = b.x; sx < b.x + b.width; ++sx) {
                        const auto tx = Taps(sx, x, region.width, size[0], on[0]);
                        ASSERT_EQ(screen.Word(sx, sy), Rule(pixels, region.width, words, tx, ty, area))
                            << size[0] << "x" << size[1] << " on " << on[0] << "x" << on[1] << " region " << region.width << "x" << region.height
                            << " at " << x << "," << y << ", screen pixel " << sx << "," << sy;
                    }
                }
            EXPECT_TRUE(screen.violations.empty());
        }
}

}  // namespace
