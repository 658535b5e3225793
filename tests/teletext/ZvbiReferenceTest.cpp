// Our subtitle lines against libzvbi's decoding of the same packets, for
// every clean Teletext page of the sample captures: page after page and
// row for row, both in Unicode (ours through the shipped translation table
// of the page's language) and normalised (trimmed, blank runs collapsed).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "FakeDisplay.h"
#include "config/Translator.h"
#include "platform/Paths.h"
#include "support/TeletextSamples.h"
#include "support/TempRoot.h"
#include "support/ZvbiReference.h"
#include "teletext/TXTSubtitle.h"

namespace {

using Page = std::vector<ttxref::Line>;  // the lines of one page, top down

// Feeds every data unit as a PES of its own (the PES header stride and the
// unit), so that a completed page can be told apart from the next one: a
// unit holds at most one header. The client keeps its state in its members,
// so this is the same stream to it.
std::vector<Page> OurPages(const std::vector<std::vector<uint8_t>>& packets, int pageNumber,
                           const std::string& language) {
    TempRoot root;
    root.Copy(paths::kTranslation, TEKO_SOURCE_DIR "/data/TEKO.translation");
    Translator translator;

    FakeDisplay fake;
    TXTSubtitle txt;
    txt.display = &fake;
    txt.collisionDetection = 0;
    txt.textColor = int(0xFFFFFFFFu);
    testing::internal::CaptureStderr();
    translator.SelectCountryCode(language);
    txt.Start(pageNumber);
    for (const auto& pes : packets) {
        for (size_t at = 46; at + 46 <= pes.size(); at += 46) {
            std::vector<uint8_t> one(pes.begin(), pes.begin() + 46);
            one.insert(one.end(), pes.begin() + long(at), pes.begin() + long(at) + 46);
            PESPacket packet;
            packet.data = one.data();
            packet.size = int(one.size());
            size_t drawn = fake.blits.size();
            txt.Receive(packet);
            if (fake.blits.size() != drawn) std::fputs("\n@@PAGE\n", stderr);
        }
    }
    std::string log = testing::internal::GetCapturedStderr();

    std::vector<Page> pages;
    Page current;
    std::istringstream lines(log);
    std::string line;
    const std::string mark = "TEKO: Subtitle@";
    while (std::getline(lines, line)) {
        if (line == "@@PAGE") {
            pages.push_back(current);
            current.clear();
        } else if (line.compare(0, mark.size(), mark) == 0 && line != "TEKO: Subtitle@RenderText.") {
            size_t colon = line.find(':', mark.size());
            int row = std::stoi(line.substr(mark.size(), colon - mark.size()));
            std::string utf8;
            for (size_t k = colon + 1; k < line.size(); ++k) {
                unsigned long code = (unsigned char)line[k];
                ttxref::AppendUtf8(utf8, translator.Translate(code));
            }
            current.push_back({row, ttxref::Normalise(utf8)});
        }
    }
    return pages;
}

// libzvbi's pages of `pageNumber`, lines only.
std::vector<Page> ReferencePages(const std::vector<std::vector<uint8_t>>& packets, int pageNumber) {
    std::vector<Page> pages;
    for (ttxref::Page& page : ttxref::ZvbiPages(packets, pageNumber)) pages.push_back(std::move(page.lines));
    return pages;
}

std::string Describe(const Page& page) {
    std::string s;
    for (const auto& line : page) s += "  " + std::to_string(line.row) + ": " + line.text + "\n";
    return s;
}

}  // namespace

TEST(TXTReference, CleanSamplesMatchLibzvbi) {
    if (!ttxref::Available()) GTEST_SKIP() << "libzvbi (zvbi-0.2) is not installed";
    int compared = 0;
    for (const auto& sample : ttx::SamplePages()) {
        if (!sample.clean) continue;
        std::string path = ttx::SamplePath(sample.file);
        if (path.empty()) continue;
        auto packets = ttx::ReadPesOfPid(path, sample.pid);
        ASSERT_FALSE(packets.empty()) << sample.file;
        // Pages that completed without a line on our side draw nothing.
        std::vector<Page> ours;
        for (auto& page : OurPages(packets, sample.page, sample.language))
            if (!page.empty()) ours.push_back(page);
        std::vector<Page> theirs = ReferencePages(packets, sample.page);

        int pagesMatched = 0, linesMatched = 0, lines = 0;
        for (size_t k = 0; k < std::max(ours.size(), theirs.size()); ++k) {
            Page none;
            const Page& a = k < ours.size() ? ours[k] : none;
            const Page& b = k < theirs.size() ? theirs[k] : none;
            lines += int(std::max(a.size(), b.size()));
            for (size_t r = 0; r < std::min(a.size(), b.size()); ++r) linesMatched += a[r] == b[r];
            pagesMatched += a == b;
            std::printf("%s", Describe(a).c_str());
            EXPECT_EQ(a, b) << sample.file << " page " << std::hex << sample.page << std::dec << " #" << k
                            << "\nours:\n" << Describe(a) << "libzvbi:\n" << Describe(b);
        }
        std::printf("%s page %x: %zu pages (libzvbi %zu), %d matched; %d of %d lines matched\n", sample.file,
                    sample.page, ours.size(), theirs.size(), pagesMatched, linesMatched, lines);
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "the sample captures are not in " TEKO_SAMPLES_DIR;
}

// The damaged capture: nothing to compare, only no crash, no hang, no write
// outside the screen; its lines are listed.
TEST(TXTReference, DamagedCaptureIsHandledSafely) {
    int run = 0;
    for (const auto& sample : ttx::SamplePages()) {
        if (sample.clean) continue;
        std::string path = ttx::SamplePath(sample.file);
        if (path.empty()) continue;
        auto packets = ttx::ReadPesOfPid(path, sample.pid);
        std::vector<Page> pages = OurPages(packets, sample.page, sample.language);
        std::printf("%s page %x: %zu PES, %zu pages drawn\n", sample.file, sample.page, packets.size(),
                    pages.size());
        for (const Page& page : pages) std::printf("%s", Describe(page).c_str());
        ++run;
    }
    if (run == 0) GTEST_SKIP() << "the damaged capture is not in " TEKO_SAMPLES_DIR;
}
