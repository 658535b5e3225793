// Fuzzes the Teletext client's Receive with any bytes (X/26 enhancement
// packets included), drawing on a strict display that aborts on a
// rectangle outside its target, a pixel read off the screen, a blit outside
// screen lines 0-575, a nested lock or text that is not valid UTF-8.
//
// Input: 4 bytes of set-up, then PES packets, each preceded by its size as
// two bytes (big-endian; cut to what is left).
//   byte 0: bit 0 32-bit screen, bit 1 collision test, bits 2-3 background
//           style, bits 4-7 outline size
//   byte 1: the wanted page's magazine (low 3 bits) and a foreign pixel
//           in the probe column (bit 7)
//   byte 2: the wanted page's tens and units
//   byte 3: vertical offset of the bottom line, signed
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Utf8.h"
#include "display/IDisplayDevice.h"
#include "render/Presenter.h"
#include "teletext/TXTSubtitle.h"

namespace {

// Only the probe column of the collision test is kept as pixels (that is
// all the client reads back); every other drawing operation is checked for
// bounds and otherwise only counted, which keeps the fuzzer fast.
class StrictDisplay : public IDisplayDevice {
public:
    static constexpr int kProbe = kScreenWidth / 2;
    explicit StrictDisplay(int bpp) : bpp_(bpp) {}
    virtual ~StrictDisplay() = default;
    int Create(std::string) override { return 0; }
    int Destroy() override { return 0; }
    int Clear() override { return DrawFilledRect(0, 0, kScreenWidth, kScreenHeight, 0), 1; }
    int DrawText(std::string text, int x, int y, int width, int, int, int colour) override {
        CheckUtf8(text);
        // Glyphs 12 wide, 18 above and 5 below the baseline; the text
        // renderer clips them at the target's edges.
        long long limit = (long long)x + width;
        for (size_t k = 0; k < text.size(); ++k, x += 12) {
            if ((long long)x + 12 >= limit) return -1;
            if (x <= kProbe && kProbe < x + 12)
                for (long long r = std::max(0LL, (long long)y - 18); r < (long long)y + 5 && r < Lines(); ++r)
                    Column()[r] = colour;
        }
        return 0;
    }
    int DrawFilledRect(int x, int y, int width, int height, int colour) override {
        if (x < 0) x = 0;
        if (x >= kScreenWidth) x = kScreenWidth - 1;
        if ((long long)x + width >= kScreenWidth) width = kScreenWidth - 1 - x;
        if (width <= 0) return 0;
        if (y < 0 || (long long)y + height > Lines()) abort();  // the caller keeps rows inside
        if (x <= kProbe && kProbe <= x + width)
            for (int r = y; r < y + height; ++r) Column()[r] = colour;
        return 0;
    }
    int AllocateBackBuffer(int lines, int colour) override {
        if (lines <= 0 || lines > kScreenHeight) abort();
        backLines_ = lines;
        for (int r = 0; r < lines; ++r) back_[r] = colour;
        return 1;
    }
    int FreeBackBuffer() override { return backLines_ = 0, useBack_ = false, 1; }
    int BlitBackBuffer(int line) override {
        if (line < 0 || line + backLines_ > kScreenHeight) abort();
        for (int r = 0; r < backLines_; ++r) screen_[line + r] = back_[r];
        return 1;
    }
    int SelectBackBuffer(bool use) override { return useBack_ = use && backLines_ > 0, 1; }
    int ReadPixel(int x, int y, unsigned char* out) override {
        if (x < 0 || x >= kScreenWidth || y < 0 || y >= kScreenHeight) abort();
        uint32_t v = x == kProbe ? uint32_t(screen_[y]) : 0;
        out[0] = uint8_t(v >> 8), out[1] = uint8_t(v >> 16), out[2] = uint8_t(v >> 24), out[3] = uint8_t(v);
        if (bpp_ != 32) out[0] = uint8_t(v);
        return 0;
    }
    void GetStringSize(int, std::string text, int& width, int& height, int& depth) override {
        CheckUtf8(text);
        width = 12 * int(text.size());
        height = text.empty() ? 0 : 18;
        depth = text.empty() ? 0 : 5;
    }
    void SetRawColor(int, int) override {}
    void BlitBitmap(unsigned char*, int, int, int, int) override {}
    void BlitARGB(const uint32_t*, int, int, int, int) override {}
    int Lock() override {
        if (locked_) abort();  // not recursive
        return locked_ = true, 0;
    }
    int UnLock() override { return locked_ = false, 0; }
    int GetBPP() override { return bpp_; }
    void Foreign() { screen_[300] = 0x12345678; }

private:
    // Page assembly hands the display whole UTF-8 sequences only (X/26
    // characters among the page's 7-bit codes).
    static void CheckUtf8(const std::string& text) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        for (size_t at = 0, used = 0; at < text.size(); at += used) {
            unsigned long c = utf8::Next(bytes, text.size(), at, used);
            if (c >= 0x80 && used == 1) abort();
        }
    }
    int Lines() const { return useBack_ ? backLines_ : kScreenHeight; }
    int* Column() { return useBack_ ? back_ : screen_; }
    int bpp_;
    int screen_[kScreenHeight] = {};
    int back_[kScreenHeight] = {};
    int backLines_ = 0;
    bool useBack_ = false, locked_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    StrictDisplay display((data[0] & 1) ? 32 : 8);
    if (data[1] & 0x80) display.Foreign();
    config::TeletextStyle style;
    style.collisionDetection = (data[0] >> 1) & 1;
    style.useBackground = (data[0] >> 2) & 3;
    style.centerText = data[0] & 1;
    style.fourThree = {26, 4, int8_t(data[3]) * 4, 0};
    style.startXPos = 60;
    style.textColor = style.paletteTextColor = int(0xFFFFFFFFu);
    style.outlineColor = style.paletteOutlineColor = 0xFF;
    style.backgroundColor = style.paletteBackgroundColor = 0x44;
    style.outlineSize = data[0] >> 4;
    render::Presenter presenter;
    presenter.teletext.Start(&display, style, 4);
    TXTSubtitle txt;
    txt.sink = &presenter;
    txt.Start(((data[1] & 7) == 0 ? 8 : (data[1] & 7)) << 8 | data[2]);

    size_t at = 4;
    while (at + 2 <= size) {
        size_t length = size_t(data[at]) << 8 | data[at + 1];
        at += 2;
        if (length > size - at) length = size - at;
        std::vector<uint8_t> copy(data + at, data + at + length);  // exact bounds for the sanitizer
        PESPacket packet;
        packet.data = copy.data();
        packet.size = int(length);
        txt.Receive(packet);
        at += length;
    }
    txt.Stop();
    return 0;
}
