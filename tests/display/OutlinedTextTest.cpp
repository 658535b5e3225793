// Outlined text from cached glyph outlines against the nine DrawText passes
// it stands for (IDisplayDevice's own DrawOutlinedText): the same pixels,
// within one step per colour channel, on every screen geometry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "DisplayFixture.h"
#include "config/Translator.h"

namespace {

using display_test::Geometry;
using display_test::Rig;

struct Case {
    const char* text;
    int x, y, width, size, outline;
};
// Kerning pairs, slant markers, letters above 0x7F (UTF-8 and single
// bytes), a text cut at the width, the left edge and the buffer's bottom,
// outline sizes 0 to 3 and a negative one.
const Case kCases[] = {
    {"AVAWAY To. Wo", 40, 30, 640, 28, 2},
    {"a<bc>d_e_f Hej p\xC3\xA5 dig", 10, 30, 700, 28, 3},
    {"\xCE\x9A\xCE\xB1\xCE\xBB\xCE\xB7 \xD0\x9F\xD1\x80\xD0\xB8 \xE5\xE4", 100, 30, 500, 26, 1},
    {"cut off somewhere in the middle", 200, 30, 150, 30, 2},
    {"Left edge", -6, 30, 300, 28, 0},
    {"gjpqy bottom", 300, 40, 300, 28, 2},
    {"Negative", 300, 30, 300, 24, -2},
    {"Thick", 300, 30, 300, 24, 6},
};

class OutlinedText : public testing::TestWithParam<Geometry> {
protected:
    void SetUp() override {
        rig_ = std::make_unique<Rig>(display_test::ConfigOf(GetParam()));
        ASSERT_TRUE(rig_->FontInstalled()) << "DejaVu fonts (fonts-dejavu-core) missing";
        ASSERT_TRUE(rig_->Create());
    }
    // One line composed in a 44-line back buffer and blitted at line 200.
    std::vector<uint8_t> Draw(const Case& c, bool composed, int& result) {
        FrameBufferDevice& d = rig_->device;
        d.Clear();
        d.Lock();
        EXPECT_EQ(d.AllocateBackBuffer(44, 0), 1);
        d.SelectBackBuffer(true);
        d.DrawFilledRect(0, 0, 720, 44, 0x20406080);
        IDisplayDevice& base = d;
        result = composed ? d.DrawOutlinedText(c.text, c.x, c.y, c.width, c.size, 0xFFFF00FF, 0x000000FF, c.outline)
                          : base.IDisplayDevice::DrawOutlinedText(c.text, c.x, c.y, c.width, c.size, 0xFFFF00FF,
                                                                  0x000000FF, c.outline);
        d.BlitBackBuffer(200);
        d.SelectBackBuffer(false);
        d.FreeBackBuffer();
        d.UnLock();
        const uint8_t* memory = rig_->Fb().Memory();
        return std::vector<uint8_t>(memory, memory + rig_->Fb().MemoryBytes());
    }
    std::unique_ptr<Rig> rig_;
};

TEST_P(OutlinedText, CachedOutlinesDrawTheNinePassesPixels) {
    for (const Case& c : kCases) {
        int expectedResult = 0, result = 0;
        std::vector<uint8_t> nine = Draw(c, false, expectedResult);
        for (int pass = 0; pass < 2; ++pass) {  // the second pass draws from the cache
            std::vector<uint8_t> composed = Draw(c, true, result);
            EXPECT_EQ(result, expectedResult) << c.text;
            ASSERT_EQ(composed.size(), nine.size());
            size_t off = 0;
            for (size_t k = 0; k < nine.size(); ++k) off += std::abs(int(composed[k]) - int(nine[k])) > 1;
            EXPECT_EQ(off, 0u) << c.text << " outline " << c.outline << " pass " << pass;
        }
        EXPECT_GT(rig_->Ink(0, 200, 720, 244), 0) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(Screens, OutlinedText,
                         testing::Values(Geometry{"Packed32", 32, 0}, Geometry{"Packed8", 8, 0},
                                         Geometry{"WideStride32", 32, 4096}),
                         [](const testing::TestParamInfo<Geometry>& info) { return std::string(info.param.name); });

}  // namespace
