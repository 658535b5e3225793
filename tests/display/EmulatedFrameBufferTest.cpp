#include <fcntl.h>
#include <sys/mman.h>

#include <vector>

#include "DisplayFixture.h"
#include "platform/Constants.h"
#include "support/PngRead.h"

using display_test::Rig;

namespace {

using pngread::ReadRgb;

TEST(EmulatedFrameBuffer, AnswersScreenInfoForItsConfiguration) {
    FrameBufferConfig config;
    config.bitsPerPixel = 8;
    config.xres = 800;
    config.yres = 600;
    config.lineLength = 1024;
    EmulatedFrameBuffer fb(config);
    int fd = fb.Open(O_RDWR);
    ASSERT_GE(fd, 0);
    fb_var_screeninfo var{};
    fb_fix_screeninfo fix{};
    ASSERT_EQ(fb.Ioctl(fd, FBIOGET_VSCREENINFO, &var), 0);
    ASSERT_EQ(fb.Ioctl(fd, FBIOGET_FSCREENINFO, &fix), 0);
    EXPECT_EQ(var.bits_per_pixel, 8u);
    EXPECT_EQ(var.xres, 800u);
    EXPECT_EQ(var.yres, 600u);
    EXPECT_EQ(fix.line_length, 1024u);
    EXPECT_EQ(fix.smem_len, 1024u * 600);
    EXPECT_EQ(fb.Ioctl(fd, 0x4711, nullptr), -1);
    // Mappings cover the memory, from offset 0, and nothing more.
    EXPECT_EQ(fb.Mmap(fix.smem_len + 1, PROT_READ, MAP_SHARED, fd, 0), MAP_FAILED);
    EXPECT_EQ(fb.Mmap(4096, PROT_READ, MAP_SHARED, fd, 4096), MAP_FAILED);
    void* map = fb.Mmap(fix.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    static_cast<uint8_t*>(map)[1024 * 3 + 7] = 0x42;  // shared with the device's view
    EXPECT_EQ(fb.Index(7, 3), 0x42);
    EXPECT_EQ(fb.Munmap(map, fix.smem_len), 0);
    EXPECT_EQ(fb.Close(fd), 0);
    EXPECT_FALSE(fb.Owns(fd));
}

TEST(EmulatedFrameBuffer, EachBlitReportsTheChangedRowsAndSavesChangedScreens) {
    Rig rig;
    ASSERT_TRUE(rig.FontInstalled());
    ASSERT_TRUE(rig.Create());
    const std::string folder = rig.Root().Path() + "/tmp";
    rig.Fb().SetPngFolder(folder);
    std::vector<EmulatedFrameBuffer::BlitEvent> events;
    rig.Fb().SetBlitObserver([&](const EmulatedFrameBuffer::BlitEvent& e) { events.push_back(e); });
    FrameBufferDevice& d = rig.device;
    d.Lock();
    d.DrawFilledRect(10, 100, 50, 21, 0xFF0000FF);
    d.UnLock();
    d.Lock();
    d.UnLock();  // nothing changed
    d.Lock();
    d.DrawFilledRect(0, 575, 719, 1, 0x00FF00FF);
    d.UnLock();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].number, 1);
    EXPECT_EQ(events[0].firstRow, 100);
    EXPECT_EQ(events[0].lastRow, 120);
    EXPECT_EQ(events[0].png, folder + "/000001.png");
    EXPECT_EQ(events[1].firstRow, -1);
    EXPECT_EQ(events[1].png, "");
    EXPECT_FALSE(rig.Root().Exists("/tmp/000002.png"));
    EXPECT_EQ(events[2].firstRow, 575);
    EXPECT_EQ(events[2].lastRow, 575);
    int w = 0, h = 0;
    std::vector<uint8_t> rgb = ReadRgb(events[2].png, w, h);
    ASSERT_EQ(w, 720);
    ASSERT_EQ(h, 576);
    auto px = [&](int x, int y) { return &rgb[(size_t(y) * 720 + x) * 3]; };
    EXPECT_EQ(px(10, 100)[0], 0xFF);  // opaque red
    EXPECT_EQ(px(10, 100)[1], 0x00);
    EXPECT_EQ(px(0, 575)[1], 0xFF);  // opaque green
    // Transparent pixels show the backdrop.
    EXPECT_EQ(px(300, 300)[0], EmulatedFrameBuffer::kBackdrop[0]);
    EXPECT_EQ(px(300, 300)[2], EmulatedFrameBuffer::kBackdrop[2]);
}

TEST(EmulatedFrameBuffer, EightBitScreensAreSavedThroughTheBoxPalette) {
    FrameBufferConfig config;
    config.bitsPerPixel = 8;
    config.lineLength = 800;
    Rig rig(config);
    ASSERT_TRUE(rig.FontInstalled());
    ASSERT_TRUE(rig.Create());
    FrameBufferDevice& d = rig.device;
    unsigned char values[7] = {0x01, 0xF3, 0x80, 0x02, 0x00, 31, 0xFF};
    testing::internal::CaptureStderr();
    d.BlitBitmap(values, 7, 1, 20, 30);
    testing::internal::GetCapturedStderr();
    const std::string path = rig.Root().Path() + "/tmp/eight.png";
    ASSERT_TRUE(rig.Fb().WritePng(path));
    int w = 0, h = 0;
    std::vector<uint8_t> rgb = ReadRgb(path, w, h);
    ASSERT_EQ(rgb.size(), size_t(720) * 576 * 3);
    auto px = [&](int x, int y) {
        const uint8_t* p = &rgb[(size_t(y) * 720 + x) * 3];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    };
    EXPECT_EQ(px(20, 30), 0xFFFFFFu);  // 1: white
    EXPECT_EQ(px(21, 30), 0xFFFF00u);  // 0xF3: default CLUT entry 3, yellow
    EXPECT_EQ(px(22, 30), 0x808080u);  // 0x80: grey of its level
    EXPECT_EQ(px(23, 30), 0x000000u);  // 2: black
    EXPECT_EQ(px(24, 30), 0x305070u);  // 0: transparent, backdrop
    EXPECT_EQ(px(25, 30), 0xFFFFFFu);  // 31: the default text colour
    EXPECT_EQ(px(26, 30), 0x808080u);  // 0xFF: default CLUT entry 15, half grey
}

}  // namespace
