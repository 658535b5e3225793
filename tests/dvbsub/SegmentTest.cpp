// The segment decoder: PES framing, page states and versions, region
// versions and fill, CLUT definitions, and hostile lengths and sizes.
#include <memory>

#include "dvbsub/DvbSubFixture.h"
#include "support/TsBuilder.h"

namespace {

class Segments : public DvbSubFixture {};

Bytes OneLineObject(int code) {
    return ObjectData(1, 1, PixelData().Line4({{4, code}}).Data(), PixelData().Line4({{4, code}}).Data());
}

TEST_F(Segments, PesFramingMessages) {
    Bytes pes = DisplaySetPes({});
    pes[2] = 0x02;
    EXPECT_EQ(LoggedPes(pes), "TEKO: subtitle_process_pes: invalid startcode 00 00 02\n");
    pes = DisplaySetPes({});
    pes[3] = 0xBE;
    EXPECT_EQ(LoggedPes(pes), "TEKO: subtitle_process_pes: invalid stream_id be\n");
    pes = DisplaySetPes({});
    pes[9] = 0x10;
    EXPECT_EQ(LoggedPes(pes), "TEKO: ERROR: Data identifier is 0x10, but not 0x20\n");
    // data_identifier alone, then with subtitle_stream_id: nothing after it.
    EXPECT_EQ(LoggedPes(ts::Pes(0xBD, {0x20})), "TEKO: ERROR: No data left (-1)\n");
    EXPECT_EQ(LoggedPes(ts::Pes(0xBD, {0x20, 0x00})), "TEKO: ERROR: No data left (0)\n");
    EXPECT_EQ(LoggedPes(ts::Pes(0xBD, {})), "TEKO: ERROR: No data left (-2)\n");
}

TEST_F(Segments, PacketEndsQuietlyOnlyAtItsEndOrTheMarker) {
    const Bytes seg = ClutDefinition(1, 0, 0, {});
    EXPECT_EQ(Logged(seg), "");                                   // ... 0xFF
    EXPECT_EQ(LoggedPes(DisplaySetPes(seg, false)), "");         // exact end
    EXPECT_EQ(LoggedPes(ts::Pes(0xBD, Concat({{0x20, 0x00}, seg, {0x42}}))),
              "TEKO: ERROR: Strange data at the end\n");
}

TEST_F(Segments, EveryTruncationOfADisplaySetIsSafe) {
    const Bytes pes = DisplaySetPes(Concat({Page(0, 1, 10, 20), ClutDefinition(1, 0, 0, {{1, 200, 128, 128, 0}}),
                                            RegionComposition(1, SimpleRegion(40, 4)),
                                            OneLineObject(1), EndOfDisplaySet(1)}));
    for (size_t n = 0; n <= pes.size(); ++n) {
        // An exact-size copy, so that a read past the end is a sanitizer error.
        std::unique_ptr<unsigned char[]> copy(new unsigned char[n ? n : 1]);
        std::copy(pes.begin(), pes.begin() + long(n), copy.get());
        testing::internal::CaptureStderr();
        subtitle_process_pes(&ctx, copy.get(), int(n));
        testing::internal::GetCapturedStderr();
        subtitle_reset(&ctx);
    }
}

TEST_F(Segments, SegmentRunningPastThePacketIsNotRead) {
    Bytes seg = RegionComposition(1, SimpleRegion(40, 4));
    Feed(Page(0, 1, 0, 0));
    seg[5] += 7;  // claims 7 bytes more than the packet holds
    EXPECT_EQ(LoggedPes(DisplaySetPes(seg, false)),
              "TEKO: ERROR: Segment of 23 bytes runs past the packet (16 left).\n"
              "TEKO: ERROR: Strange data at the end\n");
    EXPECT_EQ(FindRegion(1, 0), nullptr);
}

TEST_F(Segments, PageStatesAndVersions) {
    Feed(Concat({Page(0, 1, 10, 20), RegionComposition(1, SimpleRegion(40, 4)), OneLineObject(1)}));
    ASSERT_NE(FindRegion(1, 0), nullptr);
    EXPECT_EQ(FindRegion(1, 0)->pixels[0], 1);
    // Same version: ignored even as a mode change.
    Feed(PageComposition(1, 9, 0, 2, {}));
    EXPECT_NE(FindRegion(1, 0), nullptr);
    EXPECT_EQ(subtitle_find_page(&ctx, 1)->timeout, 5);
    // Normal case: regions and pixels stay, the references are replaced.
    Feed(PageComposition(1, 9, 1, 0, {{0, 1, 2}, {3, 4, 5}}));
    ASSERT_NE(FindRegion(1, 0), nullptr);
    EXPECT_EQ(FindRegion(1, 0)->pixels[0], 1);
    EXPECT_EQ(RefCount(1), 2);
    EXPECT_EQ(subtitle_find_page(&ctx, 1)->regionRefs->next->y, 5);
    // Acquisition point: the regions go, the CLUTs stay.
    Feed(ClutDefinition(1, 0, 0, {{1, 200, 128, 128, 0}}));
    Feed(PageComposition(1, 9, 2, 1, {{0, 1, 2}}));
    EXPECT_EQ(FindRegion(1, 0), nullptr);
    EXPECT_NE(subtitle_find_page(&ctx, 1)->cluts, nullptr);
    EXPECT_EQ(RefCount(1), 1);
}

TEST_F(Segments, SegmentsOfAnUnknownPageAreIgnored) {
    Feed(Concat({RegionComposition(7, SimpleRegion(40, 4)), ClutDefinition(7, 0, 0, {{1, 200, 128, 128, 0}}),
                 ObjectData(7, 1, PixelData().Line4({{4, 1}}).Data(), {})}));
    EXPECT_EQ(ctx.pages, nullptr);
}

TEST_F(Segments, PageCompositionLengthMismatchesOnlyLog) {
    Bytes seg = Page(0, 1, 10, 20);
    seg.push_back(0x11);  // a stray byte: 9 bytes, one reference
    seg[5] = 9;
    EXPECT_EQ(Logged(seg), "TEKO: 14 != 9\n");
    EXPECT_EQ(RefCount(1), 1);
    EXPECT_EQ(Logged(Segment(0x10, 2, {5})), "TEKO: 2 != 1\n");
    EXPECT_EQ(subtitle_find_page(&ctx, 2), nullptr);
}

TEST_F(Segments, RegionFillAndDepth) {
    Region r = SimpleRegion(8, 2, 0, true);
    r.code4 = 5;
    r.code2 = 2;
    r.code8 = 0x99;
    Feed(Concat({Page(0, 1, 0, 0), RegionComposition(1, r)}));
    EXPECT_EQ(FindRegion(1, 0)->pixels[15], 5);
    r.version = 1, r.depth = 1;
    Feed(RegionComposition(1, r));
    EXPECT_EQ(FindRegion(1, 0)->pixels[15], 2);
    r.version = 2, r.depth = 3;
    Feed(RegionComposition(1, r));
    EXPECT_EQ(FindRegion(1, 0)->pixels[15], 0x99);
    r.version = 3, r.depth = 5, r.width = 9;
    EXPECT_EQ(Logged(RegionComposition(1, r)), "TEKO: ERROR: Invalid depth for region.\n");
    EXPECT_EQ(FindRegion(1, 0)->pixels[15], 0);  // a new array starts transparent
    r.version = 4, r.depth = 2, r.fill = false;
    Feed(RegionComposition(1, r));
    EXPECT_EQ(FindRegion(1, 0)->pixels[15], 0);
}

// Live roll-up: each display set gives the region a new version without
// the fill flag and sends only the next word. The words must add up.
TEST_F(Segments, NewRegionVersionWithoutFillKeepsItsPixels) {
    Region r = SimpleRegion(40, 4, 0, true);
    r.code4 = 2;
    Feed(Concat({Page(0, 1, 0, 0), RegionComposition(1, r), OneLineObject(1)}));
    r.fill = false, r.version = 1;
    r.objects = {{2, 10, 0}};
    Feed(Concat({RegionComposition(1, r), ObjectData(1, 2, PixelData().Line4({{3, 3}}).Data(),
                                                     PixelData().Line4({{3, 3}}).Data())}));
    subtitle_region* region = FindRegion(1, 0);
    EXPECT_EQ(region->pixels[0], 1);   // the first word stays
    EXPECT_EQ(region->pixels[10], 3);  // the second joins it
    EXPECT_EQ(region->pixels[5], 2);      // background of the first version
    EXPECT_EQ(region->objects->objectId, 2);
    EXPECT_EQ(region->objects->next, nullptr);  // placements are replaced
    // The fill flag repaints it; a new size starts it afresh.
    r.fill = true, r.version = 2;
    Feed(RegionComposition(1, r));
    EXPECT_EQ(region->pixels[0], 2);
    r.fill = false, r.version = 3, r.height = 5;
    Feed(Concat({OneLineObject(1), RegionComposition(1, r)}));
    EXPECT_EQ(FindRegion(1, 0)->pixels[0], 0);
    EXPECT_EQ(ctx.pixelBytes, 200);
}

// EN 300 743 §7.2.4: each entry goes into every family its flags name;
// what the stream never defined keeps the default contents of §10.
TEST_F(Segments, ClutEntriesGoIntoTheFamiliesTheirFlagsName) {
    Feed(Page(0, 1, 0, 0));
    Feed(ClutDefinition(1, 3, 0, {{0, 16, 128, 128, 0}, {1, 235, 128, 128, 7}, {2, 16, 128, 128, 0, true, 0xE0},
                                   {3, 235, 128, 128, 255, false, 0x80}, {200, 16, 128, 128, 0, true, 0x20},
                                   {20, 235, 128, 128, 0, true, 0x40}}));
    const subtitle_clut* clut = subtitle_find_page(&ctx, 1)->cluts;
    ASSERT_NE(clut, nullptr);
    EXPECT_EQ(clut->clutId, 3);
    const subtitle_clut* defaults = subtitle_default_clut();
    EXPECT_EQ(unsigned(clut->colours4[0]), 0x000000FFu);
    EXPECT_EQ(unsigned(clut->colours4[1]), 0xFEFEFEF8u);
    // Entry 2 is in all three families, entry 3 (two-byte form: Y 6 bits,
    // Cr and Cb 4, T 2, shifted up) in the 2-bit one only.
    EXPECT_EQ(unsigned(clut->colours2[2]), 0x000000FFu);
    EXPECT_EQ(unsigned(clut->colours4[2]), 0x000000FFu);
    EXPECT_EQ(unsigned(clut->colours8[2]), 0x000000FFu);
    EXPECT_EQ(unsigned(clut->colours2[3]), 0xFBFBFB3Fu);
    EXPECT_EQ(clut->colours4[3], defaults->colours4[3]);
    EXPECT_EQ(clut->colours8[3], defaults->colours8[3]);
    // 8-bit-only entry 200; entry 20 fits no 4-bit slot.
    EXPECT_EQ(unsigned(clut->colours8[200]), 0x000000FFu);
    EXPECT_EQ(clut->colours4[200 % 16], defaults->colours4[200 % 16]);
    EXPECT_EQ(clut->colours8[20], defaults->colours8[20]);
    // A repetition is ignored; a new version changes only what it repeats.
    Feed(ClutDefinition(1, 3, 0, {{1, 16, 128, 128, 0}}));
    EXPECT_EQ(unsigned(clut->colours4[1]), 0xFEFEFEF8u);
    Feed(ClutDefinition(1, 3, 1, {{1, 16, 128, 128, 0}}));
    EXPECT_EQ(unsigned(clut->colours4[1]), 0x000000FFu);
    EXPECT_EQ(unsigned(clut->colours2[3]), 0xFBFBFB3Fu);
}

TEST_F(Segments, AbsurdRegionsAreBoundedAndSkipped) {
    Feed(Page(0, 1, 0, 0));
    const std::string log = Logged(RegionComposition(1, SimpleRegion(65535, 65535)));
    EXPECT_EQ(log, "TEKO: ERROR: Region 0 of 65535x65535 is too large, skipped.\n");
    EXPECT_EQ(FindRegion(1, 0), nullptr);
    // Full HD regions fit one at a time, but not without bound.
    for (int id = 0; id < 3; ++id) {
        Region r = SimpleRegion(1920, 1080);
        r.regionId = id;
        testing::internal::CaptureStderr();
        Feed(RegionComposition(1, r));
        testing::internal::GetCapturedStderr();
    }
    EXPECT_NE(FindRegion(1, 1), nullptr);
    EXPECT_EQ(FindRegion(1, 2), nullptr);
    EXPECT_LE(ctx.pixelBytes, kSubtitleMaxPixelBytes);
    // A region that grows past the bound is dropped, not left half made.
    Region r = SimpleRegion(65535, 10, 1);
    testing::internal::CaptureStderr();
    Feed(RegionComposition(1, r));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(FindRegion(1, 0), nullptr);
    EXPECT_EQ(ctx.pixelBytes, 1920 * 1080);
}

TEST_F(Segments, RecordCountsAreBounded) {
    testing::internal::CaptureStderr();
    for (int page = 0; page < kSubtitleMaxPages + 4; ++page) Feed(PageComposition(page, 5, 0, 1, {}));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("ERROR: Too many pages, page 16 ignored.\n"), std::string::npos);
    EXPECT_EQ(subtitle_find_page(&ctx, 16), nullptr);
    Region r = SimpleRegion(10, 10);
    r.objects.assign(kSubtitleMaxObjectsPerRegion + 1, {1, 0, 0});
    EXPECT_EQ(Logged(RegionComposition(1, r)), "TEKO: ERROR: Too many objects in region 0.\n");
    EXPECT_EQ(FindRegion(1, 0)->objectCount, kSubtitleMaxObjectsPerRegion);
}

TEST_F(Segments, PlacementsAndTheirShortfall) {
    Region r = SimpleRegion(10, 10);
    r.objects = {{1, 0x123, 0x456, 1, 7, 8}, {2, 3, 4}};
    Feed(Concat({Page(0, 1, 0, 0), RegionComposition(1, r)}));
    const subtitle_object* o = FindRegion(1, 0)->objects;
    EXPECT_EQ(o->x, 0x123);
    EXPECT_EQ(o->y, 0x456);
    EXPECT_EQ(o->foregroundCode, 7);
    EXPECT_EQ(o->backgroundCode, 8);
    EXPECT_EQ(o->next->objectId, 2);
    Bytes seg = RegionComposition(1, r);
    seg[7] = 0x17;  // version 1
    seg[5] -= 3;    // the last placement cut short
    EXPECT_EQ(Logged(Bytes(seg.begin(), seg.end() - 3)), "TEKO: ERROR: Not enough data! (21 < 24)\n");
    EXPECT_EQ(FindRegion(1, 0)->objectCount, 1);
}

TEST_F(Segments, OtherSegmentTypes) {
    EXPECT_EQ(Logged(Concat({Segment(0xFF, 1, {1, 2, 3}), Segment(0x15, 1, {0, 0, 0, 0, 0})})),
              "TEKO: ERROR: Unhandled segment type 15\n");
    Feed(Page(0, 1, 0, 0));
    EXPECT_EQ(Logged(ObjectData(1, 1, {1, 2}, {}, 1)),
              "TEKO: ERROR: object_coding_method 1 (strings?) is not implemented!\n");
    EXPECT_EQ(Logged(ObjectData(1, 1, {1, 2}, {}, 2)), "");
    const Bytes seg = Page(0, 1, 0, 0);
    EXPECT_EQ(subtitle_process_segment(&ctx, seg.data(), int(seg.size())), int(seg.size()));
    testing::internal::CaptureStderr();
    EXPECT_EQ(subtitle_process_segment(&ctx, seg.data() + 1, int(seg.size()) - 1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TEKO: ERROR: Out of sync.\n");
}

}  // namespace
