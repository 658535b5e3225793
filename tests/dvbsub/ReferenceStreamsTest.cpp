// Streams made here, decoded by this decoder on a 32-bit screen and by
// FFmpeg's decoder, compared as the sample captures are: streams written
// by FFmpeg's own DVB subtitle encoder from 4-, 16- and 256-colour bitmaps,
// builder-made streams with every region depth, map table and two CLUTs,
// pages for a full HD display (with and without window), and two
// languages sharing one PID and an ancillary page.
#include <gtest/gtest.h>

#include <cstdio>

#include "dvbsub/CheckingDisplay.h"
#include "dvbsub/subtitle.h"
#include "render/Presenter.h"
#include "support/DvbReference.h"
#include "support/DvbSubBuilder.h"

namespace {

using namespace dvbsub;

struct Decoded {
    dvbref::Screen ours, ref;
    bool refGot = false;
    std::string log;
};

// Every packet through both decoders; the screens after the last one.
Decoded DecodeBoth(const std::vector<Bytes>& packets, const dvbref::Options& options = dvbref::Options()) {
    Decoded d;
    CheckingDisplay display(false, 32);
    render::Presenter presenter;
    presenter.dvb.Start(&display, config::DvbOptions());
    subtitle_ctx ctx;
    ctx.sink = &presenter;
    ctx.screenEnabled = 1;
    ctx.compositionPageId = options.compositionPage;
    ctx.ancillaryPageId = options.ancillaryPage;
    dvbref::FfmpegDecoder reference(options);
    testing::internal::CaptureStderr();
    for (const Bytes& pes : packets) {
        subtitle_process_pes(&ctx, pes.data(), int(pes.size()));
        d.refGot = reference.Decode(pes.data(), pes.size(), d.ref) || d.refGot;
    }
    d.log = testing::internal::GetCapturedStderr();
    d.ours = display.words;
    subtitle_reset(&ctx);
    for (const std::string& v : display.violations) ADD_FAILURE() << "display: " << v;
    return d;
}

void ExpectSame(const Decoded& d, int ink) {
    ASSERT_TRUE(d.refGot);
    int diff = 0;
    EXPECT_EQ(dvbref::Compare(d.ours, d.ref, 32, &diff), "");
    EXPECT_EQ(dvbref::Ink(d.ours, 32), ink);
    EXPECT_EQ(dvbref::Ink(d.ref, 32), ink);
}

// A bitmap of `colours` entries: entry 0 transparent, the others opaque
// and distinct; every entry used.
dvbref::Bitmap Pattern(int colours, int x, int y, int width, int height) {
    dvbref::Bitmap b;
    b.x = x, b.y = y, b.width = width, b.height = height;
    b.palette.push_back(0);
    for (int i = 1; i < colours; ++i)
        b.palette.push_back(0xFF000000u | uint32_t((i * 37) & 0xFF) << 16 | uint32_t((i * 91) & 0xFF) << 8 |
                            uint32_t((i * 151 + 40) & 0xFF));
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) b.indices.push_back(uint8_t((i / 3 + j) % colours));
    return b;
}

bool HaveEncoder() { return !dvbref::EncodeWithFfmpeg({Pattern(4, 0, 0, 8, 2)}).empty(); }

int Transparent(const dvbref::Bitmap& b) {
    int n = 0;
    for (uint8_t i : b.indices) n += i == 0;
    return n;
}

// FFmpeg writes 2-bit-only CLUT entries for up to 4 colours, 4-bit ones
// for 16 and 8-bit ones for 256: every pixel of the 1,280 shows, with or
// without a 720 x 576 display definition.
TEST(FfmpegEncoded, FourSixteenAndTwoHundredFiftySixColours) {
    if (!HaveEncoder()) GTEST_SKIP() << "FFmpeg has no DVB subtitle encoder here";
    for (int colours : {4, 16, 256})
        for (int display : {0, 720}) {
            SCOPED_TRACE(std::to_string(colours) + " colours, display " + std::to_string(display));
            const dvbref::Bitmap b = Pattern(colours, 200, 500, 320, 4);
            const Bytes pes = dvbref::EncodeWithFfmpeg({b}, display, display ? 576 : 0);
            ExpectSame(DecodeBoth({pes}), 1280 - Transparent(b));
        }
}

// Regions of 2, 4 and 8 bits on one page with two CLUTs; 2-bit code
// strings through a received 2-to-4 and 2-to-8 map, 4-bit ones through a
// 4-to-8 map. Each map is sent at the start of the line it serves, so the
// comparison holds whether a map lasts to the end of the line or field.
TEST(BuilderStreams, EveryDepthMapTableAndTwoCluts) {
    std::vector<ClutEntry> clut0, clut1;
    for (int i = 0; i < 4; ++i) clut0.push_back({i, 40 + 50 * i, 100 + 20 * i, 160 - 20 * i, 0, true, 0x80});
    for (int i = 0; i < 16; ++i) clut1.push_back({i, 30 + 12 * i, 90 + 5 * i, 200 - 7 * i, 0, true, 0x40});
    for (int i = 0; i < 256; i += 5) clut1.push_back({i, 20 + (i % 200), 60 + (i % 120), 180 - (i % 100), 0, true, 0x20});
    auto region = [](int id, int depth, int clut) {
        Region r;
        r.regionId = id, r.width = 40, r.height = 4, r.depth = depth, r.clutId = clut;
        r.objects = {{id, 0, 0}};
        return r;
    };
    const Bytes map4to8{0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75};
    PixelData two, mapped4, mapped8;
    two.String2({{10, 1}, {10, 2}, {10, 3}, {10, 0}}).EndOfLine();
    mapped4.Map2To4(1, 6, 11, 14).String2({{20, 1}, {12, 2}, {8, 3}}).EndOfLine();
    mapped8.Map2To8({0, 45, 90, 200}).String2({{15, 2}, {25, 3}}).EndOfLine();
    mapped8.Map4To8(map4to8).String4({{13, 4}, {27, 15}}).EndOfLine();
    const Bytes set = Concat({PageComposition(1, 5, 0, 1, {{1, 100, 400}, {2, 100, 410}, {3, 100, 420}}),
                              ClutDefinition(1, 0, 0, clut0), ClutDefinition(1, 1, 0, clut1),
                              RegionComposition(1, region(1, 1, 0)), RegionComposition(1, region(2, 2, 1)),
                              RegionComposition(1, region(3, 3, 1)),
                              ObjectData(1, 1, PixelData(two).Raw(two.Data()).Data(), PixelData(two).Raw(two.Data()).Data()),
                              ObjectData(1, 2, PixelData(mapped4).Raw(mapped4.Data()).Data(),
                                         PixelData(mapped4).Raw(mapped4.Data()).Data()),
                              ObjectData(1, 3, mapped8.Data(), mapped8.Data()), EndOfDisplaySet(1)});
    ExpectSame(DecodeBoth({DisplaySetPes(set)}), 3 * 160);
}

// Full HD pages, from FFmpeg's encoder and from the builder with a display
// window, against FFmpeg's pictures scaled to the screen by area.
TEST(HighDefinition, ScaledPagesAgreeWithFFmpegScaledByArea) {
    dvbref::Options hd;
    hd.displayWidth = 1920, hd.displayHeight = 1080;
    std::vector<std::pair<std::string, Bytes>> streams;
    // Text-like: light strokes on a dark box.
    dvbref::Bitmap text = Pattern(4, 480, 900, 960, 96);
    text.palette = {0, 0xFF101010u, 0xFFF0F0F0u, 0xFF808080u};
    for (int j = 0; j < text.height; ++j)
        for (int i = 0; i < text.width; ++i)
            text.indices[size_t(j) * text.width + i] = uint8_t((i % 24 < 5 || j % 32 < 4) ? 2 : (i % 24 == 5 ? 3 : 1));
    if (HaveEncoder()) streams.push_back({"encoder", dvbref::EncodeWithFfmpeg({text}, 1920, 1080)});
    Region r;
    r.regionId = 1, r.width = 600, r.height = 60, r.objects = {{1, 0, 0}};
    PixelData top, bottom;
    for (int line = 0; line < 60; ++line) (line % 2 ? bottom : top).Line4({{100, 1}, {7, 2}, {193, 3}, {300, 1}});
    const Bytes body = Concat({PageComposition(1, 5, 0, 1, {{1, 300, 700}}),
                               ClutDefinition(1, 0, 0, {{1, 230, 128, 128, 0}, {2, 40, 128, 128, 0}, {3, 60, 200, 60, 0}}),
                               RegionComposition(1, r), ObjectData(1, 1, top.Data(), bottom.Data()), EndOfDisplaySet(1)});
    streams.push_back({"window", DisplaySetPes(Concat({DisplayDefinition(1, 1920, 1080, 160, 90, 1759, 989), body}))});
    streams.push_back({"no window", DisplaySetPes(Concat({DisplayDefinition(1, 1920, 1080), body}))});
    for (const auto& s : streams) {
        const Decoded d = DecodeBoth({s.second}, hd);
        ASSERT_TRUE(d.refGot) << s.first;
        const double opaque = dvbref::OpaqueIoU(d.ours, d.ref), light = dvbref::LightIoU(d.ours, d.ref);
        std::printf("[ hd        ] %s: IoU %.3f opaque, %.3f light, %d pixels shown\n", s.first.c_str(), opaque, light,
                    dvbref::Ink(d.ours, 32));
        EXPECT_GE(opaque, 0.95) << s.first;
        EXPECT_GE(light, 0.85) << s.first;
        EXPECT_GT(dvbref::Ink(d.ours, 32), 0) << s.first;
    }
}

// Two languages on pages 1 and 2 of one PID share CLUT 0 and their objects
// on ancillary page 3: each choice shows only its own region, in the
// ancillary CLUT's colours, as FFmpeg does when told the same pages.
TEST(SharedPid, OnlyTheChosenLanguageInTheAncillaryColours) {
    auto page = [](int pageId, int regionId, int y) {
        Region r;
        r.regionId = regionId, r.width = 60, r.height = 4, r.objects = {{regionId, 0, 0}};
        return Concat({PageComposition(pageId, 5, 0, 1, {{regionId, 100, y}}), RegionComposition(pageId, r)});
    };
    PixelData fre, eng;
    fre.Line4({{60, 1}}).Line4({{60, 1}});
    eng.Line4({{30, 2}, {30, 3}}).Line4({{60, 2}});
    const Bytes clut = ClutDefinition(3, 0, 0, {{1, 200, 90, 160, 0}, {2, 80, 200, 100, 0}, {3, 150, 40, 40, 0}});
    const Bytes objects[2] = {ObjectData(3, 1, fre.Data(), fre.Data()), ObjectData(3, 2, eng.Data(), eng.Data())};
    for (int chosen : {1, 2}) {
        SCOPED_TRACE("page " + std::to_string(chosen));
        // FFmpeg gives up a packet at an object that no region places, so
        // the other language's object follows in the next packet.
        const Bytes pes = DisplaySetPes(Concat({page(1, 1, 500), page(2, 2, 100), clut, objects[chosen - 1],
                                                EndOfDisplaySet(1), EndOfDisplaySet(2)}));
        dvbref::Options options;
        options.compositionPage = chosen, options.ancillaryPage = 3;
        const Bytes next = DisplaySetPes(Concat({objects[2 - chosen], EndOfDisplaySet(3 - chosen)}));
        const Decoded d = DecodeBoth({pes, next}, options);
        ExpectSame(d, 240);
        const int y = chosen == 1 ? 500 : 100;
        EXPECT_EQ(dvbref::Ink(dvbref::Screen(d.ours.begin() + y * 720, d.ours.begin() + (y + 4) * 720), 32), 240);
        // The ancillary CLUT's colour, not the default entry's.
        const unsigned char e[4] = {uint8_t(chosen == 1 ? 200 : 80), uint8_t(chosen == 1 ? 90 : 200),
                                    uint8_t(chosen == 1 ? 160 : 100), 0};
        const uint32_t c = uint32_t(subtitle_entry_color(e));
        EXPECT_EQ(d.ours[size_t(y) * 720 + 100], c >> 8 | c << 24);
    }
}

// A PMT naming a page that the stream does not carry: the one page that
// is there is shown from its second display set on, and said once.
TEST(SharedPid, WrongPageIdFallsBackOnTheOnlyPage) {
    Region r;
    r.regionId = 1, r.width = 50, r.height = 2, r.objects = {{1, 0, 0}};
    auto set = [&](int version) {
        return DisplaySetPes(Concat({PageComposition(4, 5, version, 1, {{1, 200, 300}}), RegionComposition(4, r),
                                     ObjectData(4, 1, PixelData().Line4({{50, 1}}).Data(), {}), EndOfDisplaySet(4)}));
    };
    dvbref::Options options;
    options.compositionPage = 7, options.ancillaryPage = 7;
    const Decoded first = DecodeBoth({set(0)}, options);
    EXPECT_EQ(dvbref::Ink(first.ours, 32), 0);
    const Decoded later = DecodeBoth({set(0), set(1), set(2)}, options);
    EXPECT_EQ(dvbref::Ink(later.ours, 32), 100);
    const std::string said = "Page 7 is not in the stream, page 4 is shown instead.";
    EXPECT_NE(later.log.find(said), std::string::npos);
    EXPECT_EQ(later.log.find(said), later.log.rfind(said));
    // With pages 4 and 5 on the PID nothing is guessed.
    const Bytes other = DisplaySetPes(Concat({PageComposition(5, 5, 0, 1, {}), EndOfDisplaySet(5)}));
    EXPECT_EQ(dvbref::Ink(DecodeBoth({set(0), other, set(1), set(2)}, options).ours, 32), 0);
}

}  // namespace
