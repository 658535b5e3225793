// The device on screens of other sizes than 720 x 576: it takes the
// driver's visible resolution (cut to full HD and to what the line length
// holds), and its drawings, clears, back buffer and updates cover that
// surface and nothing of the memory outside it.
#include <climits>
#include <cstring>
#include <vector>

#include "DisplayFixture.h"

using display_test::Rig;

namespace {

struct Screen {
    const char* name;
    int bpp, xres, yres, lineLength;
    int width, height;  // the surface the device should find
};

class ScreenSize : public testing::TestWithParam<Screen> {};

// Calls `f` on each stretch of the memory outside a width x height surface.
template <typename F>
void ForOutside(EmulatedFrameBuffer& fb, size_t used, int height, F f) {
    const size_t stride = size_t(fb.LineLength()), lines = size_t(height);
    for (size_t row = 0; row < lines; ++row) f(fb.Memory() + row * stride + used, stride - used);
    f(fb.Memory() + lines * stride, fb.MemoryBytes() - lines * stride);
}

TEST_P(ScreenSize, DrawsClipsAndPresentsOnTheWholeSurfaceOnly) {
    const Screen& p = GetParam();
    FrameBufferConfig config;
    config.bitsPerPixel = p.bpp, config.xres = p.xres, config.yres = p.yres, config.lineLength = p.lineLength;
    Rig rig(config);
    ASSERT_TRUE(rig.FontInstalled());
    testing::internal::CaptureStderr();
    ASSERT_EQ(rig.device.Create(paths::kDefaultFont), 0);
    ASSERT_EQ(rig.device.Create(paths::kDefaultFont), 0);  // a reload
    const std::string log = testing::internal::GetCapturedStderr();
    FrameBufferDevice& d = rig.device;
    const int w = p.width, h = p.height;
    ASSERT_EQ(d.Width(), w);
    ASSERT_EQ(d.Height(), h);
    // A screen larger than full HD is told of once.
    const size_t told = log.find("drawing on its top left " + std::to_string(w) + "x" + std::to_string(h) + "\n");
    EXPECT_EQ(told != std::string::npos, p.xres > 1920 || p.yres > 1080) << log;
    EXPECT_EQ(log.find("drawing on its top left", told + 1), std::string::npos) << log;
    const size_t bytes = p.bpp == 32 ? 4 : 1;
    ForOutside(rig.Fb(), w * bytes, h, [](uint8_t* at, size_t n) { std::memset(at, 0x5A, n); });

    const uint32_t c = 0x11223344, bg = 0x000000FF;
    d.DrawFilledRect(-5, -5, INT_MAX, INT_MAX, c);
    EXPECT_EQ(rig.Ink(0, 0, w, h), w * h);
    d.Clear();
    EXPECT_EQ(rig.Ink(0, 0, w, h), 0);
    // A bitmap over the far corner, text past the right edge.
    std::vector<unsigned char> ones(10 * 10, 1);
    d.SetRawColor(1, c);
    testing::internal::CaptureStderr();
    d.BlitBitmap(ones.data(), 10, 10, w - 4, h - 5);
    EXPECT_EQ(rig.Ink(0, 0, w, h), 20);
    EXPECT_EQ(rig.At(w - 1, h - 1), p.bpp == 32 ? rig.Want(c) : 1u);  // 8 bits: the value itself
    d.DrawText(std::string(300, 'W'), w - 200, h - 10, 10000, 0, 40, -1);
    EXPECT_GT(rig.Ink(w - 200, h - 40, w, h - 10), 0);
    // A back buffer as tall as the screen, its top rows onto the bottom
    // ones, shown at the unlock.
    EXPECT_EQ(d.AllocateBackBuffer(h + 1, bg), 0);
    testing::internal::GetCapturedStderr();
    d.Clear();
    ASSERT_EQ(d.Lock(), 0);
    ASSERT_EQ(d.AllocateBackBuffer(h, bg), 1);
    d.SelectBackBuffer(true);
    d.DrawFilledRect(w - 10, 2, 10, 1, c);
    d.BlitBackBuffer(h - 3);
    d.FreeBackBuffer();
    EXPECT_EQ(rig.Ink(0, 0, w, h), 0);
    ASSERT_EQ(d.UnLock(), 0);
    EXPECT_EQ(rig.Ink(0, 0, w, h), 3 * w);
    EXPECT_EQ(rig.At(w - 1, h - 1), rig.Want(c));
    EXPECT_EQ(rig.At(w - 11, h - 1), rig.Want(bg));
    // Another display's pixel in the far corner outlives a clear.
    std::memset(rig.Fb().Memory() + size_t(h - 1) * rig.Fb().LineLength() + (w - 1) * bytes, 0x77, bytes);
    EXPECT_TRUE(d.ShowsOther(w - 1, h - 1));
    EXPECT_FALSE(d.ShowsOther(w - 2, h - 1));
    d.Clear();
    EXPECT_EQ(rig.Ink(0, 0, w, h), 1);

    bool intact = true;
    ForOutside(rig.Fb(), w * bytes, h, [&](const uint8_t* at, size_t n) {
        for (size_t i = 0; i < n; ++i) intact = intact && at[i] == 0x5A;
    });
    EXPECT_TRUE(intact && rig.Fb().TailIntact());
}

INSTANTIATE_TEST_SUITE_P(Sizes, ScreenSize,
                         testing::Values(Screen{"Hd32", 32, 1280, 720, 0, 1280, 720},
                                         Screen{"Hd8Padded", 8, 1280, 720, 1408, 1280, 720},
                                         Screen{"FullHd32Padded", 32, 1920, 1080, 8192, 1920, 1080},
                                         Screen{"FullHd8", 8, 1920, 1080, 0, 1920, 1080},
                                         // Lines shorter than the visible width: what they hold.
                                         Screen{"ShortLines32", 32, 1280, 720, 4000, 1000, 720},
                                         Screen{"Larger32", 32, 2560, 1440, 0, 1920, 1080},
                                         Screen{"Taller8", 8, 1280, 1200, 0, 1280, 1080}),
                         [](const testing::TestParamInfo<Screen>& info) { return std::string(info.param.name); });

// A driver whose answers leave no whole pixel to draw on is refused.
TEST(ScreenSize, ADriverWithNothingToDrawOnIsRefused) {
    for (const auto& size : {std::make_pair(0, 576), std::make_pair(720, 0)}) {
        FrameBufferConfig config;
        config.xres = size.first, config.yres = size.second;
        config.lineLength = 2880, config.memoryBytes = 2880 * 576;
        Rig rig(config);
        EXPECT_FALSE(rig.Create());
        EXPECT_EQ(rig.Fb().Mappings() + rig.Fb().OpenDescriptors(), 0);
    }
}

}  // namespace
