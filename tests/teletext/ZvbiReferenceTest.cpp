// Our subtitle lines against libzvbi's decoding of the same packets, for
// every clean Teletext page of the sample captures: page after page and
// row for row, both in Unicode (ours as drawn, through the shipped
// translation table of the page's language) and normalised (trimmed, blank
// runs collapsed).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "ZvbiCompare.h"
#include "support/TeletextSamples.h"

using zvbicmp::Describe;
using zvbicmp::OurPages;
using zvbicmp::Page;
using zvbicmp::ReferencePages;

namespace {

// Page by page and row by row; returns the pages that matched.
int Compare(const ttx::SamplePage& sample, const std::string& language, const std::vector<std::vector<uint8_t>>& packets,
            bool expectMatch) {
    // Pages that completed without a line on our side draw nothing.
    std::vector<Page> ours;
    for (auto& page : OurPages(packets, sample.page, language))
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
        if (expectMatch) {
            EXPECT_EQ(a, b) << sample.file << " page " << std::hex << sample.page << std::dec << " (" << language
                            << ") #" << k << "\nours:\n" << Describe(a) << "libzvbi:\n" << Describe(b);
        }
    }
    std::printf("%s PID %x page %x (%s): %zu pages (libzvbi %zu), %d matched; %d of %d lines matched\n", sample.file,
                sample.pid, sample.page, language.c_str(), ours.size(), theirs.size(), pagesMatched, linesMatched,
                lines);
    return pagesMatched;
}

}  // namespace

// Every clean sample page in its language; the Danish page 799, sent in the
// Swedish subset with its æ and ø in X/26, gives the same text with the
// Danish and the Swedish table; the other Teletext PIDs of the Rai capture
// too.
TEST(TXTReference, CleanSamplesMatchLibzvbi) {
    if (!ttxref::Available()) GTEST_SKIP() << "libzvbi (zvbi-0.2) is not installed";
    std::vector<std::pair<ttx::SamplePage, std::string>> runs;
    for (const auto& sample : ttx::SamplePages()) {
        if (!sample.clean) continue;
        runs.push_back({sample, sample.language});
        if (sample.page == 0x799) runs.push_back({sample, "swe"});
    }
    for (int pid : {0x240, 0x242, 0x257}) runs.push_back({{"tsduck-test-108.ts", pid, 0x777, "ita", true}, "ita"});
    int compared = 0;
    for (const auto& run : runs) {
        std::string path = ttx::SamplePath(run.first.file);
        if (path.empty()) continue;
        auto packets = ttx::ReadPesOfPid(path, run.first.pid);
        ASSERT_FALSE(packets.empty()) << run.first.file;
        Compare(run.first, run.second, packets, true);
        ++compared;
    }
    if (compared == 0) GTEST_SKIP() << "the sample captures are not in " TEKO_SAMPLES_DIR;
}

// The damaged capture: no crash, no hang, no write outside the screen; its
// lines are listed, and compared with libzvbi's without holding them to it
// (the two decoders treat damaged bytes differently).
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
        if (ttxref::Available()) Compare(sample, sample.language, packets, false);
        ++run;
    }
    if (run == 0) GTEST_SKIP() << "the damaged capture is not in " TEKO_SAMPLES_DIR;
}
