// A region drawn again from the image kept of it: only while its codes,
// colours, place and display are what the image was composed from, and
// blitted (with its palette) every time.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dvbsub/CheckingDisplay.h"
#include "render/DvbCompose.h"

namespace {

struct Drawn {
    uint32_t word;  // inside the top left corner of the region's blit (edge pixels may be half covered)
    int blits;
};

Drawn Draw(CheckingDisplay& screen, render::ImageBuffer& images, const render::Display& d,
           const pages::DvbRegion& region) {
    screen.Reset();
    screen.Lock();
    render::ComposeRegion(screen, d, render::Display{}, region, images);
    screen.UnLock();
    EXPECT_TRUE(screen.violations.empty());
    const std::vector<CheckingDisplay::Blit>& blits = screen.bpp == 32 ? screen.argbBlits : screen.blits;
    if (blits.empty()) return {0, 0};
    const int x = blits[0].x + 1, y = blits[0].y + 1;
    return {screen.bpp == 32 ? screen.Word(x, y) : screen.At(x, y), int(blits.size())};
}

// A region of `codes`, width x height at (x, y).
pages::DvbRegion Region(std::vector<uint8_t>& codes, long x, long y, int width, int height) {
    pages::DvbRegion region{};
    region.x = x, region.y = y;
    region.width = width, region.height = height;
    region.codes = codes.data();
    return region;
}

TEST(ImageCache, ARegionChangedInPlaceIsComposedAgain) {
    for (const render::Display d : {render::Display{}, render::Display{1920, 1080}}) {
        CheckingDisplay screen(false, 32);
        render::ImageBuffer images;
        std::vector<uint8_t> codes(64 * 8, 1);
        pages::DvbRegion region = Region(codes, 96, 96, 64, 8);
        region.argb[1] = 0xFF102030u, region.argb[2] = 0xFF405060u;
        EXPECT_EQ(Draw(screen, images, d, region).word, 0xFF102030u);
        const Drawn again = Draw(screen, images, d, region);
        EXPECT_EQ(again.word, 0xFF102030u);
        EXPECT_EQ(again.blits, 1);
        std::fill(codes.begin(), codes.end(), 2);  // the decoder's array, rewritten
        EXPECT_EQ(Draw(screen, images, d, region).word, 0xFF405060u);
        region.argb[2] = 0xFF708090u;  // a new CLUT version
        EXPECT_EQ(Draw(screen, images, d, region).word, 0xFF708090u);
        region.x += 8;  // moved by the page composition
        EXPECT_EQ(Draw(screen, images, d, region).word, 0xFF708090u);
    }
}

// Rows changed in place (a roll-up's new word) against the same codes
// composed afresh: every screen row over them, scaled or not, is redrawn.
TEST(ImageCache, ChangedRowsComeOutAsAFreshComposition) {
    for (const render::Display d : {render::Display{}, render::Display{1920, 1080}, render::Display{320, 240}}) {
        CheckingDisplay kept(false, 32), fresh(false, 32);
        render::ImageBuffer images;
        std::vector<uint8_t> codes(90 * 30);
        for (size_t i = 0; i < codes.size(); ++i) codes[i] = uint8_t(i / 7 % 3);
        pages::DvbRegion region = Region(codes, 33, 17, 90, 30);
        region.argb[1] = 0xFF204060u, region.argb[2] = 0x80A0C0E0u;
        Draw(kept, images, d, region);
        for (int y : {0, 13, 29}) codes[size_t(y) * 90 + 40] = 2, codes[size_t(y) * 90 + 41] = 0;
        Draw(kept, images, d, region);
        render::ImageBuffer none;
        Draw(fresh, none, d, region);
        EXPECT_EQ(kept.words, fresh.words) << d.width << "x" << d.height;
    }
}

TEST(ImageCache, OneByteScreensGetThePaletteAndTheNewIndexes) {
    CheckingDisplay screen(false, 8);
    render::ImageBuffer images;
    std::vector<uint8_t> codes(32 * 4, 1);
    pages::DvbRegion region = Region(codes, 40, 40, 32, 4);
    region.index[1] = 0xF1;
    region.palette[1] = 0x11223344;
    EXPECT_EQ(Draw(screen, images, {}, region).word, 0xF1u);
    EXPECT_EQ(Draw(screen, images, {}, region).word, 0xF1u);
    EXPECT_EQ(screen.palette[1], 0x11223344);
    region.index[1] = 0xF7;
    EXPECT_EQ(Draw(screen, images, {}, region).word, 0xF7u);
}

}  // namespace
