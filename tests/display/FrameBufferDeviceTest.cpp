#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "DisplayFixture.h"

using display_test::ConfigOf;
using display_test::Geometry;
using display_test::Rig;

namespace {

std::string Captured(const std::function<void()>& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

TEST(FrameBufferCreate, LogsTheScreenAndReleasesEverythingOnDestroy) {
    Rig rig;
    int result = -2;
    std::string log = Captured([&] { result = rig.device.Create(paths::kDefaultFont); });
    ASSERT_EQ(result, 0) << log;
    EXPECT_EQ(log,
              "TEKO: Found 1620k video memory\n"
              "TEKO: Current framebuffer info\n"
              "TEKO: bpp=32\n"
              "TEKO: width=720\n"
              "TEKO: height=576\n"
              "TEKO: stride=2880\n");
    EXPECT_EQ(rig.device.GetBPP(), 32);
    EXPECT_EQ(rig.Fb().Mappings(), 1);
    // A second Create replaces the first instead of leaking it.
    ASSERT_TRUE(rig.Create());
    EXPECT_EQ(rig.Fb().Mappings(), 1);
    EXPECT_EQ(rig.Fb().OpenDescriptors(), 1);
    EXPECT_EQ(rig.device.Destroy(), 0);
    EXPECT_EQ(rig.Fb().Mappings(), 0);
    EXPECT_EQ(rig.Fb().OpenDescriptors(), 0);
    EXPECT_EQ(rig.device.Destroy(), 0);
}

struct CreateFailure {
    const char* name;
    FrameBufferConfig config;
    bool detach;
    std::string font;
    std::string log;
    bool created = false;  // a font's fault leaves a display without text
};

TEST(FrameBufferCreate, EachFailureLogsAndLeavesNothingOpenButAFontsLeavesTextOff) {
    FrameBufferConfig noV, noF, noMap, plain;
    noV.failVScreenInfo = true;
    noF.failFScreenInfo = true;
    noMap.failMmap = true;
    const std::string info =
        "TEKO: Found 1620k video memory\nTEKO: Current framebuffer info\nTEKO: bpp=32\n"
        "TEKO: width=720\nTEKO: height=576\nTEKO: stride=2880\n";
    const std::string kNoText = "TEKO: No usable font: Teletext and the status line are not drawn, DVB subtitles are\n";
    const std::vector<CreateFailure> cases = {
        {"no device", plain, true, paths::kDefaultFont, "TEKO: Could not open frame buffer\n"},
        {"no var info", noV, false, paths::kDefaultFont,
         "TEKO: Could not execute FBIOGET_VSCREENINFO\n"},
        {"no fix info", noF, false, paths::kDefaultFont,
         "TEKO: Could not execute FBIOGET_FSCREENINFO\n"},
        {"no mapping", noMap, false, paths::kDefaultFont,
         "TEKO: Found 1620k video memory\nTEKO: Could not mmap(screen memory)\n"},
        // No fallback font under the root either.
        {"missing font", plain, false, "/usr/share/fonts/none.ttf",
         info + "TEKO: Font /usr/share/fonts/none.ttf not found\n" + kNoText, true},
        // The font is read into memory: FreeType runs out of the 41 bytes
        // (Invalid_Stream_Operation) before it gives up on the format. Its
        // errors are told by name: no errno.
        {"not a font", plain, false, "/etc/TEKO.conf",
         info + "TEKO: FT_New_Face failed: Invalid_Stream_Operation (invalid stream operation), for font: "
                "/etc/TEKO.conf\n" + kNoText,
         true},
    };
    for (const CreateFailure& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.config);
        rig.Root().Write("/etc/TEKO.conf", "Font /usr/share/fonts/md_khmurabi_10.ttf\n");
        if (c.detach) rig.Backend().Attach(paths::kFrameBuffer, nullptr);
        int result = 0;
        std::string log = Captured([&] { result = rig.device.Create(c.font); });
        EXPECT_EQ(result, c.created ? 0 : -1);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(rig.Fb().Mappings(), c.created ? 1 : 0);
        EXPECT_EQ(rig.Fb().OpenDescriptors(), c.created ? 1 : 0);
        EXPECT_FALSE(rig.device.HasText());
    }
}

TEST(FrameBufferCreate, DeviceThatIsNotCreatedDrawsNothingAndBlitsNothing) {
    Rig rig;
    FrameBufferDevice& d = rig.device;
    unsigned char bitmap[4] = {1, 1, 1, 1};
    unsigned char out[4] = {9, 9, 9, 9};
    d.SetRawColor(1, 0x11223344);
    std::string log = Captured([&] {
        EXPECT_EQ(d.Clear(), 1);
        EXPECT_EQ(d.DrawFilledRect(0, 0, 100, 100, -1), 0);
        EXPECT_EQ(d.DrawText("Hello", 10, 100, 700, 0, 28, -1), 0);
        d.BlitBitmap(bitmap, 2, 2, 0, 0);
        EXPECT_EQ(d.AllocateBackBuffer(10, -1), 0);
        EXPECT_EQ(d.SelectBackBuffer(true), 1);
        EXPECT_EQ(d.ReadPixel(0, 0, out), 0);
        int w = 1, h = 1, dep = 1;
        d.GetStringSize(28, "Hello", w, h, dep);
        EXPECT_EQ(w + h + dep, 0);
        EXPECT_EQ(d.GetStringLen("Hello"), 0);
        EXPECT_EQ(d.Lock(), 0);
        EXPECT_EQ(d.UnLock(), 0);
    });
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(rig.Fb().BlitRequests(), 0);
    EXPECT_EQ(log, "TEKO:       BlitBitmap: w=2, h=2, xpos=0, ypos=0\n");
}

TEST(FrameBufferLock, UnLockRetriesTheBlitNineTimesAndReleasesTheLockAnyway) {
    Rig rig;
    ASSERT_TRUE(rig.Create());
    rig.Fb().SetFailingBlits(-1);
    ASSERT_EQ(rig.device.Lock(), 0);
    std::string log = Captured([&] { EXPECT_EQ(rig.device.UnLock(), 0); });
    std::string expected;
    for (int i = 0; i < 9; ++i) expected += "TEKO: Error FBIO_BLIT not availble.\n";
    EXPECT_EQ(log, expected);
    EXPECT_EQ(rig.Fb().BlitRequests(), 9);
    // The lock is free again (an error-checking relock would report EDEADLK).
    EXPECT_EQ(rig.device.Lock(), 0);
    rig.Fb().SetFailingBlits(2);
    log = Captured([&] { EXPECT_EQ(rig.device.UnLock(), 0); });
    EXPECT_EQ(log, "TEKO: Error FBIO_BLIT not availble.\nTEKO: Error FBIO_BLIT not availble.\n");
    EXPECT_EQ(rig.Fb().Blits(), 1);
    EXPECT_NE(rig.device.UnLock(), 0);  // not held: refused, not undefined
}

// A driver without FBIO_BLIT (ENOTTY: the memory is the screen) is asked
// once and told of once; later unlocks only release the lock.
TEST(FrameBufferLock, ADriverWithoutBlitIsAskedOnce) {
    FrameBufferConfig config;
    config.noBlit = true;
    Rig rig(config);
    ASSERT_TRUE(rig.Create());
    std::string log;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(rig.device.Lock(), 0);
        log += Captured([&] { EXPECT_EQ(rig.device.UnLock(), 0); });
    }
    EXPECT_EQ(rig.Fb().BlitRequests(), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

class FrameBufferGeometry : public testing::TestWithParam<Geometry> {
protected:
    void SetUp() override {
        rig_ = std::make_unique<Rig>(ConfigOf(GetParam()));
        ASSERT_TRUE(rig_->FontInstalled());
        ASSERT_TRUE(rig_->Create());
        // Mark the stride's padding beyond column 719 so that a write there shows.
        uint8_t* mem = rig_->Fb().Memory();
        size_t stride = size_t(rig_->Fb().LineLength());
        size_t used = size_t(720) * (GetParam().bpp == 32 ? 4 : 1);
        for (size_t row = 0; row < 576 && stride > used; ++row) {
            std::memset(mem + row * stride + used, 0x5A, stride - used);
        }
    }
    bool PaddingIntact() {
        uint8_t* mem = rig_->Fb().Memory();
        size_t stride = size_t(rig_->Fb().LineLength());
        size_t used = size_t(720) * (GetParam().bpp == 32 ? 4 : 1);
        for (size_t row = 0; row < 576 && stride > used; ++row)
            for (size_t i = used; i < stride; ++i)
                if (mem[row * stride + i] != 0x5A) return false;
        return rig_->Fb().TailIntact();
    }
    std::unique_ptr<Rig> rig_;
};

TEST_P(FrameBufferGeometry, RectangleRules) {
    FrameBufferDevice& d = rig_->device;
    const uint32_t c = 0x11223344;
    d.DrawFilledRect(700, 0, 100, 1, c);  // width clamped to 19, inclusive loop
    EXPECT_EQ(rig_->At(699, 0), 0u);
    for (int x = 700; x < 720; ++x) EXPECT_EQ(rig_->At(x, 0), rig_->Want(c)) << x;
    d.DrawFilledRect(10, 2, 0, 5, c);  // zero width: nothing
    EXPECT_EQ(rig_->Ink(0, 2, 720, 7), 0);
    d.DrawFilledRect(-5, 10, 3, 1, c);  // x clamped to 0, columns 0-3
    EXPECT_EQ(rig_->Ink(0, 10, 720, 11), 4);
    EXPECT_EQ(rig_->At(3, 10), rig_->Want(c));
    d.DrawFilledRect(100, 20, 9, 2, c);  // w + 1 columns, height rows
    EXPECT_EQ(rig_->Ink(0, 19, 720, 23), 20);
    d.Clear();
    EXPECT_EQ(rig_->Ink(0, 0, 720, 576), 0);
    // Clear covers columns 0-719 of every row exactly.
    d.DrawFilledRect(0, 0, 720, 576, c);
    EXPECT_EQ(rig_->Ink(0, 0, 720, 576), 720 * 576);
    EXPECT_TRUE(PaddingIntact());
}

TEST_P(FrameBufferGeometry, ColoursAreRotatedOrReducedToTheirLowByte) {
    FrameBufferDevice& d = rig_->device;
    d.SetRawColor(1, 0x11223344);
    unsigned char one = 1;
    d.BlitBitmap(&one, 1, 1, 5, 5);
    d.DrawFilledRect(6, 5, 0, 1, 0x11223344);
    d.DrawFilledRect(7, 5, 1, 1, 0x11223344);
    unsigned char out[4] = {0, 0, 0, 0};
    ASSERT_EQ(d.ReadPixel(5, 5, out), 0);
    if (GetParam().bpp == 32) {
        // The pixel is one native 32-bit word 0xAARRGGBB, whatever the
        // CPU's byte order.
        uint32_t word = 0;
        std::memcpy(&word, out, 4);
        EXPECT_EQ(word, 0x44112233u);
        EXPECT_EQ(rig_->Fb().Word(7, 5), 0x44112233u);
    } else {
        EXPECT_EQ(out[0], 1);
        EXPECT_EQ(rig_->Fb().Index(7, 5), 0x44);
    }
    std::string log = Captured([&] { EXPECT_EQ(d.ReadPixel(0, 0, nullptr), -1); });
    EXPECT_EQ(log, "TEKO: NULL pointer in ReadPixel\n");
}

TEST_P(FrameBufferGeometry, BlitBitmapSkipsZeroAndPairsDvbValuesWithTheirClutEntries) {
    FrameBufferDevice& d = rig_->device;
    const uint32_t under = 0x808080FF;
    d.DrawFilledRect(0, 0, 9, 1, under);
    for (int i = 0; i < 16; ++i) d.SetRawColor(i, int(0x10000000u * unsigned(i) + 0x00AB00FFu));
    d.SetRawColor(0x20, 0x00CD00FF);
    std::vector<unsigned char> bitmap = {0, 1, 0xF2, 5, 0, 0xFF, 0x20, 0xF0, 0};
    std::string log = Captured([&] { d.BlitBitmap(bitmap.data(), 9, 1, 0, 0); });
    EXPECT_EQ(log, "TEKO:       BlitBitmap: w=9, h=1, xpos=0, ypos=0\n");
    const bool wide = GetParam().bpp == 32;
    auto entry = [&](int i) { return rig_->Want(0x10000000u * i + 0x00AB00FF); };
    EXPECT_EQ(rig_->At(0, 0), rig_->Want(under));
    EXPECT_EQ(rig_->At(1, 0), wide ? entry(1) : 1u);
    EXPECT_EQ(rig_->At(2, 0), wide ? entry(2) : 0xF2u);
    EXPECT_EQ(rig_->At(3, 0), wide ? entry(5) : 5u);
    EXPECT_EQ(rig_->At(4, 0), rig_->Want(under));
    EXPECT_EQ(rig_->At(5, 0), wide ? entry(15) : 0xFFu);
    EXPECT_EQ(rig_->At(6, 0), wide ? rig_->Want(0x00CD00FF) : 0x20u);
    EXPECT_EQ(rig_->At(7, 0), wide ? entry(0) : 0xF0u);
    EXPECT_EQ(rig_->At(8, 0), rig_->Want(under));
}

// ARGB words go to a 32-bit screen as they are, clipped to the surface;
// alpha 0 leaves the screen alone. A one-byte screen draws nothing.
TEST_P(FrameBufferGeometry, BlitArgbWritesWordsAndSkipsTransparentOnes) {
    FrameBufferDevice& d = rig_->device;
    const uint32_t under = 0x808080FF;
    d.DrawFilledRect(715, 570, 4, 5, under);
    const std::vector<uint32_t> words = {0x80FF0000u, 0x00123456u, 0xFF00FF00u, 0x01000001u,
                                         0xFF0000FFu, 0xFFFFFFFFu, 0x00000000u, 0x7F7F7F7Fu};
    std::string log = Captured([&] { d.BlitARGB(words.data(), 4, 2, 716, 574); });
    d.BlitARGB(words.data(), 4, 2, -2, -1);  // only its last row's last two words land, at (0, 0)
    if (GetParam().bpp != 32) {
        EXPECT_EQ(log, "TEKO:       BlitARGB: w=4, h=2, xpos=716, ypos=574\n"
                       "TEKO: BlitARGB needs a 32-bit screen, this one has 8 bits.\n");
        EXPECT_EQ(rig_->Ink(0, 0, 720, 576), 5 * 5);
        EXPECT_TRUE(PaddingIntact());
        return;
    }
    EXPECT_EQ(log, "TEKO:       BlitARGB: w=4, h=2, xpos=716, ypos=574\n");
    EXPECT_EQ(rig_->Fb().Word(716, 574), 0x80FF0000u);
    EXPECT_EQ(rig_->Fb().Word(717, 574), rig_->Want(under));  // alpha 0: untouched
    EXPECT_EQ(rig_->Fb().Word(718, 574), 0xFF00FF00u);
    EXPECT_EQ(rig_->Fb().Word(719, 574), 0x01000001u);
    EXPECT_EQ(rig_->Fb().Word(716, 575), 0xFF0000FFu);
    EXPECT_EQ(rig_->Fb().Word(0, 0), 0u);           // 0x00000000: transparent
    EXPECT_EQ(rig_->Fb().Word(1, 0), 0x7F7F7F7Fu);
    EXPECT_TRUE(PaddingIntact());
}

TEST_P(FrameBufferGeometry, BackBufferSequenceComposesOffScreenAndCopiesRows) {
    FrameBufferDevice& d = rig_->device;
    const uint32_t bg = 0x000000FF, fg = 0xFFFF00FF;
    const int before = rig_->Fb().Blits();
    ASSERT_EQ(d.Lock(), 0);
    ASSERT_EQ(d.AllocateBackBuffer(40, bg), 1);
    EXPECT_EQ(d.SelectBackBuffer(true), 1);
    d.DrawFilledRect(10, 5, 20, 3, fg);
    unsigned char out[4] = {0, 0, 0, 0};
    d.ReadPixel(10, 5, out);  // reads the back buffer
    EXPECT_NE(out[0] | out[1] | out[2] | out[3], 0);
    EXPECT_EQ(rig_->Ink(0, 0, 720, 576), 0);  // nothing on screen yet
    EXPECT_EQ(d.BlitBackBuffer(500), 1);
    EXPECT_EQ(d.SelectBackBuffer(false), 1);
    EXPECT_EQ(d.FreeBackBuffer(), 1);
    EXPECT_EQ(d.UnLock(), 0);
    EXPECT_EQ(rig_->Fb().Blits(), before + 1);
    EXPECT_EQ(rig_->Ink(0, 0, 720, 500), 0);
    EXPECT_EQ(rig_->Ink(0, 540, 720, 576), 0);
    EXPECT_EQ(rig_->At(0, 500), rig_->Want(bg));
    EXPECT_EQ(rig_->At(719, 539), rig_->Want(bg));
    EXPECT_EQ(rig_->At(10, 505), rig_->Want(fg));
    EXPECT_EQ(rig_->At(30, 507), rig_->Want(fg));
    EXPECT_EQ(rig_->At(31, 507), rig_->Want(bg));
    EXPECT_EQ(rig_->At(10, 508), rig_->Want(bg));
    EXPECT_TRUE(PaddingIntact());
}

TEST_P(FrameBufferGeometry, BackBufferMisuseIsRefusedWithItsMessage) {
    FrameBufferDevice& d = rig_->device;
    std::string log = Captured([&] {
        EXPECT_EQ(d.BlitBackBuffer(0), 0);
        EXPECT_EQ(d.FreeBackBuffer(), 0);
        EXPECT_EQ(d.AllocateBackBuffer(0, 0), 0);
        EXPECT_EQ(d.AllocateBackBuffer(577, 0), 0);
    });
    EXPECT_EQ(log,
              "TEKO: Error...no Back buffer.\nTEKO: Could not free empty Back buffer...\n"
              "TEKO: Could not allocate Back buffer...\nTEKO: Could not allocate Back buffer...\n");
    // Selecting a back buffer that does not exist keeps drawing on screen.
    d.SelectBackBuffer(true);
    d.DrawFilledRect(0, 0, 1, 1, 0xFFFFFFFF);
    EXPECT_EQ(rig_->Ink(0, 0, 720, 576), 2);
    // A second allocation replaces the first (the sanitizer build sees a leak
    // otherwise) and keeps it selected.
    ASSERT_EQ(d.AllocateBackBuffer(4, 0), 1);
    d.SelectBackBuffer(true);
    ASSERT_EQ(d.AllocateBackBuffer(8, 0), 1);
    d.DrawFilledRect(0, 0, 1, 1, 0x0000FFFF);
    EXPECT_EQ(rig_->At(0, 0), rig_->Want(0xFFFFFFFF));
    EXPECT_EQ(d.FreeBackBuffer(), 1);
}

TEST_P(FrameBufferGeometry, NothingIsWrittenOutsideTheScreenOrTheBackBuffer) {
    FrameBufferDevice& d = rig_->device;
    const uint32_t c = 0xFFFFFFFF;
    std::vector<unsigned char> ones(10 * 10, 1);
    d.SetRawColor(1, c);
    testing::internal::CaptureStderr();
    // Back buffer of 10 lines: lines 5-9 drawn, the drawing below it dropped.
    ASSERT_EQ(d.AllocateBackBuffer(10, 0), 1);
    d.SelectBackBuffer(true);
    d.DrawFilledRect(0, 5, 719, 50, c);
    d.BlitBitmap(ones.data(), 10, 10, 0, 5);
    d.BlitBackBuffer(570);  // only lines 0-5 reach rows 570-575
    d.BlitBackBuffer(-5);   // lines 5-9 reach rows 0-4
    d.BlitBackBuffer(INT_MAX);
    d.BlitBackBuffer(INT_MIN);
    d.FreeBackBuffer();
    d.DrawFilledRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX, c);
    d.DrawFilledRect(INT_MAX, INT_MAX, INT_MAX, INT_MAX, c);
    d.DrawFilledRect(0, 570, 719, 100, c);  // bottom edge
    d.DrawFilledRect(0, -10, 719, 12, c);   // top edge
    d.BlitBitmap(ones.data(), 10, 10, -5, 100);   // left edge
    d.BlitBitmap(ones.data(), 10, 10, 715, 100);  // right edge
    d.BlitBitmap(ones.data(), 10, 10, INT_MAX, INT_MIN);
    d.BlitBitmap(nullptr, 10, 10, 0, 0);
    d.BlitBitmap(ones.data(), -10, 10, 0, 0);
    unsigned char out[4];
    d.ReadPixel(-1, 1000, out);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(PaddingIntact());
    EXPECT_EQ(rig_->Ink(0, 570, 720, 576), 720 * 6);  // bottom rect and back buffer
    EXPECT_EQ(rig_->Ink(0, 0, 720, 6), 720 * 5);      // back buffer and top rect
    EXPECT_EQ(rig_->Ink(0, 100, 5, 110), 50);          // left bitmap part
    EXPECT_EQ(rig_->Ink(715, 100, 720, 110), 50);      // right bitmap part
    EXPECT_EQ(rig_->Ink(0, 6, 720, 570), 100);
}

INSTANTIATE_TEST_SUITE_P(Screens, FrameBufferGeometry,
                         testing::Values(Geometry{"Packed32", 32, 0}, Geometry{"Packed8", 8, 0},
                                         Geometry{"WideStride32", 32, 4096},
                                         Geometry{"WideStride8", 8, 1000}),
                         [](const testing::TestParamInfo<Geometry>& info) {
                             return std::string(info.param.name);
                         });

TEST(FrameBufferSmallScreen, DrawingStopsAtTheRealMemoryOfASmallerScreen) {
    FrameBufferConfig config;
    config.xres = 640;
    config.yres = 481;
    config.memoryBytes = 640 * 4 * 480 + 100;  // last line incomplete
    Rig rig(config);
    ASSERT_TRUE(rig.FontInstalled());
    ASSERT_TRUE(rig.Create());
    FrameBufferDevice& d = rig.device;
    std::vector<unsigned char> ones(720 * 576, 1);
    d.SetRawColor(1, 0x01020304);
    testing::internal::CaptureStderr();
    d.Clear();
    d.DrawFilledRect(0, 0, 720, 576, -1);
    d.BlitBitmap(ones.data(), 720, 576, 0, 0);
    d.DrawText(std::string(200, 'W'), -3, 490, 1000, 0, 40, -1);
    d.AllocateBackBuffer(100, -1);
    d.BlitBackBuffer(400);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(rig.Fb().TailIntact());
    EXPECT_EQ(rig.Fb().Word(639, 479), 0xFFFFFFFFu);
    EXPECT_EQ(rig.Fb().Word(0, 480), 0u);  // the incomplete line is never drawn
}

}  // namespace
