// Greek and Cyrillic subtitle pages drawn by the framebuffer device with
// the box font's stand-in (DejaVu Sans) and the default settings; one
// screen per script is written as build/teletext_<script>.png to be looked
// at.
#include <gtest/gtest.h>

#include "EmulatedFrameBuffer.h"
#include "Scripts.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "TxtTestSupport.h"
#include "config/Options.h"
#include "config/Settings.h"
#include "display/FrameBufferDevice.h"
#include "render/Presenter.h"

namespace {

const char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

TEST(ScriptScreens, EveryScriptIsDrawnWithItsOwnLetters) {
    for (const scripts::Script& s : scripts::kScripts) {
        const std::string row20 = scripts::Encode(s.row20, s.language);
        const std::string row22 = scripts::Encode(s.row22, s.language);
        TempRoot root;
        SimClock clock;
        SimBackend backend(root.Path(), clock);
        EmulatedFrameBuffer fb{FrameBufferConfig()};
        platform::Install(&backend);
        backend.Attach(paths::kFrameBuffer, &fb);
        root.Copy(paths::kDefaultFont, kFont);
        root.Copy(paths::kTranslation, TEKO_SOURCE_DIR "/data/TEKO.translation");
        std::vector<std::string> drawn;
        testing::internal::CaptureStderr();
        {
            Settings settings;
            Translator translator;
            FrameBufferDevice device;
            TXTSubtitle txt;
            translator.SelectCountryCode(s.language);
            ASSERT_EQ(device.Create(paths::kDefaultFont), 0);
            render::Presenter presenter;
            presenter.teletext.Start(&device, config::ReadOptions(settings).teletext, 4);
            txt.sink = &presenter;
            txt.Start(0x150, translator.Set());
            presenter.teletext.lineDrawn = [&](int, const std::string& text) { drawn.push_back(text); };
            ttx::Header header;
            header.magazine = 1;
            header.page = 0x50;
            header.nationalOption = s.nationalOption;
            Feed(txt, {ttx::HeaderPacket(header),
                       ttx::RowPacket(1, 20, ttx::SubtitleRow(row20)), ttx::RowPacket(1, 22, ttx::SubtitleRow(row22)),
                       Head(2, 0x00)});
            device.Destroy();
        }
        std::string log = testing::internal::GetCapturedStderr();
        platform::Install(nullptr);
        EXPECT_EQ(drawn, (std::vector<std::string>{s.row20, s.row22})) << s.name;
        EXPECT_EQ(log.find("failed"), std::string::npos) << log;
        int ink = 0;
        for (int y = 400; y < 576; ++y)
            for (int x = 0; x < 720; ++x) ink += (fb.Argb(x, y) >> 24) != 0;
        EXPECT_GT(ink, 5000) << s.name;
        EXPECT_TRUE(fb.WritePng(std::string(TEKO_BINARY_DIR "/teletext_") + s.name + ".png")) << s.name;
    }
}

}  // namespace
