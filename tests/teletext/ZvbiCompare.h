// Our subtitle lines and libzvbi's, page by page, for the comparison tests:
// ours as the client hands its pages over (the page's language table
// applied to the 7-bit codes), libzvbi's from its page at VBI_WST_LEVEL_2p5.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TxtTestSupport.h"
#include "config/Translator.h"
#include "platform/Paths.h"
#include "support/TempRoot.h"
#include "support/ZvbiReference.h"
#include "teletext/TXTSubtitle.h"

namespace zvbicmp {

using Page = std::vector<ttxref::Line>;  // the lines of one page, top down

// Feeds every data unit as a PES of its own (the PES header stride and the
// unit), so that a completed page can be told apart from the next one: a
// unit holds at most one header. The client keeps its state in its members,
// so this is the same stream to it.
inline std::vector<Page> OurPages(const std::vector<std::vector<uint8_t>>& packets, int pageNumber,
                                  const std::string& language) {
    TempRoot root;
    root.Copy(paths::kTranslation, TEKO_SOURCE_DIR "/data/TEKO.translation");
    Translator translator;

    PageRecorder recorder;
    TXTSubtitle txt;
    txt.sink = &recorder;
    std::vector<Page> pages;
    testing::internal::CaptureStderr();
    translator.SelectCountryCode(language);
    txt.Start(pageNumber, translator.Set());
    for (const auto& pes : packets) {
        for (size_t at = 46; at + 46 <= pes.size(); at += 46) {
            std::vector<uint8_t> one(pes.begin(), pes.begin() + 46);
            one.insert(one.end(), pes.begin() + long(at), pes.begin() + long(at) + 46);
            PESPacket packet;
            packet.data = one.data();
            packet.size = int(one.size());
            txt.Receive(packet);
            for (const pages::TeletextPage& shown : recorder.shown) {
                Page current;
                for (const pages::TeletextRow& row : shown.rows)
                    current.push_back({row.row + 1, ttxref::Normalise(Joined(row))});
                if (!current.empty()) pages.push_back(current);
            }
            recorder.shown.clear();
        }
    }
    testing::internal::GetCapturedStderr();
    return pages;
}

// libzvbi's pages of `pageNumber`, lines only.
inline std::vector<Page> ReferencePages(const std::vector<std::vector<uint8_t>>& packets, int pageNumber,
                                        int region = -1) {
    std::vector<Page> pages;
    for (ttxref::Page& page : ttxref::ZvbiPages(packets, pageNumber, region)) pages.push_back(std::move(page.lines));
    return pages;
}

inline std::string Describe(const Page& page) {
    std::string s;
    for (const auto& line : page) s += "  " + std::to_string(line.row) + ": " + line.text + "\n";
    return s;
}

}  // namespace zvbicmp
