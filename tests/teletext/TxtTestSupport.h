// A Teletext client on a fake display with fixed drawing values, and the
// helpers the client tests share.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeDisplay.h"
#include "render/Presenter.h"
#include "support/TeletextBuilder.h"
#include "teletext/TXTSubtitle.h"

constexpr int kWhite = int(0xFFFFFFFFu);
constexpr int kBlack = 0x000000FF;
constexpr int kShade = 0x00000044;

// The drawing values of the client tests (no settings store).
inline config::TeletextStyle FakeStyle() {
    config::TeletextStyle s;
    s.fourThree = {28, 5, 0, 0};
    s.wide = {28, 0, 0, 0};
    s.startXPos = 60;
    s.centerText = 1;
    s.useBackground = 2;
    s.outlineSize = 2;
    s.textColor = kWhite;
    s.outlineColor = kBlack;
    s.backgroundColor = kShade;
    s.paletteTextColor = 31;
    s.paletteOutlineColor = s.paletteBackgroundColor = 24;
    s.collisionDetection = 1;
    return s;
}

// Starts the client on `page`, its pages laid out on the fake display.
inline void StartOnFake(TXTSubtitle& txt, render::Presenter& presenter, FakeDisplay& fake, int page,
                        const config::TeletextStyle& style = FakeStyle()) {
    testing::internal::CaptureStderr();
    presenter.teletext.Start(&fake, style, 4);
    txt.sink = &presenter;
    txt.Start(page);
    testing::internal::GetCapturedStderr();
}

// A row's text, its runs joined.
inline std::string Joined(const pages::TeletextRow& row) {
    std::string text;
    for (const pages::TextRun& run : row.runs) text += run.text;
    return text;
}

// The pages a client hands over, as they come.
struct PageRecorder : pages::PageSink {
    void ShowDvb(const pages::DvbPage&) override {}
    void ClearDvb() override {}
    void ShowTeletext(const pages::TeletextPage& page) override { shown.push_back(page); }
    void ClearTeletext() override { ++clears; }
    std::vector<pages::TeletextPage> shown;
    int clears = 0;
};

inline int Feed(TXTSubtitle& txt, const std::vector<ttx::Bytes>& packets, uint8_t unitId = 0x03) {
    std::vector<ttx::Bytes> units;
    for (const auto& p : packets) units.push_back(ttx::DataUnit(p, unitId));
    ttx::Bytes pes = ttx::Pes(units, 0);
    PESPacket packet;
    packet.data = pes.data();
    packet.size = int(pes.size());
    return txt.Receive(packet);
}

inline ttx::Bytes Head(int magazine, int page, bool erase = true) {
    ttx::Header h;
    h.magazine = magazine;
    h.page = page;
    h.erase = erase;
    return ttx::HeaderPacket(h);
}

// The texts drawn in the text colour (one per line drawn), in order.
inline std::vector<std::string> DrawnLines(const FakeDisplay& fake, int textColour) {
    std::vector<std::string> lines;
    for (const auto& t : fake.texts)
        if (t.colour == textColour) lines.push_back(t.text);
    return lines;
}

inline std::string RowText(const unsigned char* row) {
    return std::string(reinterpret_cast<const char*>(row), TXTSubtitle::kColumns);
}

inline std::string Padded(const std::string& text) { return text + std::string(40 - text.size(), ' '); }
