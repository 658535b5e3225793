// The decoder context handing its pages to the screen on a checking
// display, with helpers to feed display
// sets built by support/DvbSubBuilder and to look at the records.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dvbsub/CheckingDisplay.h"
#include "dvbsub/subtitle.h"
#include "render/Presenter.h"
#include "support/DvbSubBuilder.h"

using namespace dvbsub;

class DvbSubFixture : public ::testing::Test {
protected:
    void SetUp() override {
        presenter.dvb.Start(&display, config::DvbOptions());
        ctx.sink = &presenter;
        ctx.screenEnabled = 1;
    }
    void TearDown() override {
        subtitle_reset(&ctx);
        EXPECT_EQ(ctx.pixelBytes, 0);
        for (const std::string& v : display.violations) ADD_FAILURE() << "display: " << v;
    }
    void Feed(const Bytes& segments) {
        const Bytes pes = DisplaySetPes(segments);
        subtitle_process_pes(&ctx, pes.data(), int(pes.size()));
    }
    void FeedPes(const Bytes& pes) { subtitle_process_pes(&ctx, pes.data(), int(pes.size())); }
    // Feeds and returns what was logged.
    std::string Logged(const Bytes& segments) {
        testing::internal::CaptureStderr();
        Feed(segments);
        return testing::internal::GetCapturedStderr();
    }
    std::string LoggedPes(const Bytes& pes) {
        testing::internal::CaptureStderr();
        FeedPes(pes);
        return testing::internal::GetCapturedStderr();
    }
    subtitle_region* FindRegion(int pageId, int regionId) {
        subtitle_page* page = subtitle_find_page(&ctx, pageId);
        for (subtitle_region* r = page ? page->regions : nullptr; r; r = r->next)
            if (r->regionId == regionId) return r;
        return nullptr;
    }
    int RefCount(int pageId) {
        int n = 0;
        subtitle_page* page = subtitle_find_page(&ctx, pageId);
        for (subtitle_region_ref* r = page ? page->regionRefs : nullptr; r; r = r->next) ++n;
        return n;
    }
    // Page 1 with region 0 (w x h, 4 bit, CLUT 0) at (x, y), placing object 1 at (0, 0).
    static Bytes Page(int version, int state, int x, int y, int timeout = 5) {
        return PageComposition(1, timeout, version, state, {{0, x, y}});
    }
    static Region SimpleRegion(int width, int height, int version = 0, bool fill = false) {
        Region r;
        r.regionId = 0;
        r.version = version;
        r.fill = fill;
        r.width = width;
        r.height = height;
        r.objects = {{1, 0, 0}};
        return r;
    }
    // Object 1 of page 1: the top field as given, the bottom field one line of `bottom`.
    static Bytes Object(const PixelData& top, const PixelData& bottom) {
        return ObjectData(1, 1, top.Data(), bottom.Data());
    }

    // The screen's rows that the shown page covers.
    render::ScreenBox Drawn() const { return presenter.dvb.Drawn(); }

    CheckingDisplay display;
    render::Presenter presenter;
    subtitle_ctx ctx;
};
