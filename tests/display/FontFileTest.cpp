// The font file under a running display: rewritten in place (a package
// upgrade, a user copying another font over it), it must not take the
// daemon down; the display keeps the font it read until it is created
// again.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "DisplayFixture.h"

using display_test::Rig;

namespace {

// Overwrites the file itself (same inode), as `cp other.ttf font.ttf` does.
void RewriteInPlace(const std::string& path, size_t bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0) << path;
    std::string garbage(bytes, '\0');
    for (size_t i = 0; i < bytes; ++i) garbage[i] = char(i * 97 + 13);
    ASSERT_EQ(write(fd, garbage.data(), bytes), ssize_t(bytes));
    close(fd);
}

TEST(FontFile, RewrittenInPlaceUnderARunningDisplayIsNoCrash) {
    Rig rig;
    ASSERT_TRUE(rig.FontInstalled());
    ASSERT_TRUE(rig.Create());
    FrameBufferDevice& d = rig.device;
    d.Lock();
    d.DrawText("A", 0, 100, 720, 0, 28, -1);
    d.UnLock();
    // Shorter than any glyph's place in the old file: a mapped font would
    // fault (SIGBUS) at the first glyph not cached yet.
    RewriteInPlace(rig.Root().At(paths::kDefaultFont), 100);
    d.Lock();
    d.DrawFilledRect(0, 0, 720, 576, 0);
    d.DrawText("bcdefghijklmnopqrstuvwxyz 0123456789 BCDEFGHIJKLMNOPQRSTUVWXYZ", 0, 300, 720, 0, 27, -1);
    d.UnLock();
    EXPECT_GT(rig.Ink(0, 250, 720, 320), 500);
    // Created again, it reads the file as it now is, says so, and is a
    // display without text.
    d.Destroy();
    testing::internal::CaptureStderr();
    EXPECT_EQ(d.Create(paths::kDefaultFont), 0);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("TEKO: FT_New_Face failed: "), std::string::npos);
    EXPECT_FALSE(d.HasText());
    EXPECT_EQ(rig.Fb().Mappings(), 1);
}

TEST(FontFile, AFolderOrAnUnreadableFontIsToldAndLeavesTextOff) {
    Rig rig;
    ASSERT_TRUE(rig.FontInstalled());
    const std::string folder = "/usr/share/fonts/folder.ttf";
    ASSERT_EQ(mkdir(rig.Root().At(folder).c_str(), 0755), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(rig.device.Create(folder), 0);
    EXPECT_FALSE(rig.device.HasText());
    rig.Backend().FailFile(paths::kDefaultFont, EACCES);
    EXPECT_EQ(rig.device.Create(paths::kDefaultFont), 0);
    EXPECT_FALSE(rig.device.HasText());
    rig.Backend().FailFile(paths::kDefaultFont, 0);
    EXPECT_EQ(rig.device.Create(paths::kDefaultFont), 0);
    EXPECT_TRUE(rig.device.HasText());
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("TEKO: Could not read font /usr/share/fonts/folder.ttf: Is a directory\n"), std::string::npos);
    EXPECT_NE(log.find("TEKO: Could not read font /usr/share/fonts/md_khmurabi_10.ttf: Permission denied\n"),
              std::string::npos);
    EXPECT_EQ(rig.Fb().Mappings(), 1);
}

}  // namespace
