// The client: what Receive returns, what Sync, Start and Stop do on screen.
#include "config/Options.h"
#include "config/Settings.h"
#include "dvbsub/DvbSubFixture.h"
#include "dvbsub/DVBSubtitle.h"
#include "support/TempRoot.h"

namespace {

class Client : public ::testing::Test {
protected:
    void SetUp() override {
        presenter.dvb.Start(&display, config::DvbOptions());
        client.sink = &presenter;
    }
    void TearDown() override {
        for (const std::string& v : display.violations) ADD_FAILURE() << "display: " << v;
    }
    void Configure(const std::string& text) {
        root.Write("/etc/TEKO.conf", text);
        testing::internal::CaptureStderr();
        settings.LoadFromFile("/etc/TEKO.conf");
        client.maxShowTime = config::ReadOptions(settings).dvb.maxShowTime;
        testing::internal::GetCapturedStderr();
    }
    std::string Start() {
        testing::internal::CaptureStderr();
        client.Start();
        return testing::internal::GetCapturedStderr();
    }
    int Receive(const Bytes& segments, std::string* log = nullptr) {
        const Bytes pes = DisplaySetPes(segments);
        PESPacket packet;
        packet.data = const_cast<unsigned char*>(pes.data());
        packet.size = int(pes.size());
        testing::internal::CaptureStderr();
        const int ms = client.Receive(packet);
        const std::string out = testing::internal::GetCapturedStderr();
        if (log) *log = out;
        return ms;
    }
    // Page 1 with time-out 5: region 0 (20 x 2, solid entry 1) at (30, 500).
    static Bytes Subtitle(int version) {
        return Concat({PageComposition(1, 5, version, 1, {{0, 30, 500}}),
                       RegionComposition(1, DvbSubFixture_Region()),
                       ObjectData(1, 1, PixelData().Line4({{20, 1}}).Data(), {}), EndOfDisplaySet(1)});
    }
    static Region DvbSubFixture_Region() {
        Region r;
        r.width = 20;
        r.height = 2;
        r.objects = {{1, 0, 0}};
        return r;
    }

    TempRoot root;
    Settings settings;
    CheckingDisplay display;
    render::Presenter presenter;
    DVBSubtitle client;
};

TEST_F(Client, ReceiveReturnsThePageTimeOutBoundedByTheSetting) {
    Configure("");
    EXPECT_EQ(Start(), "TEKO: DVB Subtitle uses MaxShowTime: 0\n");
    std::string log;
    EXPECT_EQ(Receive(Subtitle(0), &log), 5000);
    EXPECT_EQ(log.rfind("TEKO: --------- RECEIVE PES START ---------\n", 0), 0u);
    EXPECT_NE(log.find("TEKO: ---------  RECEIVE PES END  ---------\n"), std::string::npos);
    EXPECT_EQ(display.Count(30, 500, 50, 502), 40);
    // Segments that draw nothing cancel the clear.
    EXPECT_EQ(Receive(RegionComposition(1, DvbSubFixture_Region())), 0);

    Configure("DVBMaxShowTime 3\n");
    client.Stop();
    EXPECT_EQ(Start(), "TEKO: DVB Subtitle uses MaxShowTime: 3\n");
    EXPECT_EQ(Receive(Subtitle(0)), 3000);
}

TEST_F(Client, SyncClearsWhatWasDrawnOnce) {
    Start();
    Receive(Subtitle(0));
    testing::internal::CaptureStderr();
    int64_t stc = 0;
    client.Sync(stc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TEKO: Force CLEAR SCREEN.\nTEKO:   BBOX clear 30:500 -> 720:502\n");
    EXPECT_EQ(display.Count(0, 0, 720, 576), 0);
    // Nothing drawn since: only the message.
    const size_t rects = display.rects.size();
    testing::internal::CaptureStderr();
    client.Sync(stc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TEKO: Force CLEAR SCREEN.\n");
    EXPECT_EQ(display.rects.size(), rects);
    EXPECT_NE(client.decoder.pages, nullptr);  // the records stay
}

// Stopping clears the rows of what was drawn, and nothing else of the
// screen (a status line, another display).
TEST_F(Client, StopClearsWhatWasDrawnAndForgetsThePages) {
    testing::internal::CaptureStderr();
    client.Stop();  // before any Start: only its line
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TEKO: Stop DVBSubtitle\n");
    Start();
    testing::internal::CaptureStderr();
    client.Stop();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(display.rects.empty());
    // A new start begins empty: the old page is not drawn again.
    Start();
    Receive(Subtitle(0));
    client.Stop();
    ASSERT_EQ(display.rects.size(), 1u);
    EXPECT_EQ(display.rects[0].y, 500);
    EXPECT_EQ(display.rects[0].width, 720);
    EXPECT_EQ(client.decoder.pages, nullptr);
    EXPECT_EQ(display.Count(0, 0, 720, 576), 0);
}

}  // namespace
