#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demux/PMTLoader.h"
#include "support/DemuxEnv.h"
#include "support/TsBuilder.h"

using ts::Bytes;

namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// PAT: NIT entry, programme 1 on 0x100, 2 on 0x200, 3 on 0x300. Programme
// 1 carries Teletext (types 5, 1, 2 in Swedish capitals, pages signalled
// as magazine 0) and two DVB entries; programme 3 one DVB entry plus a
// remainder, and a subtitling descriptor on a video stream.
Bytes ThreeProgrammeStream() {
    Bytes txt = ts::TeletextDescriptor({{"SWE", 5, 0, 0x88}, {"SWE", 1, 1, 0x00}, {"SWE", 2, 0, 0x58},
                                        {"eng", 2, 0, 0x59}, {"fin", 2, 1, 0x50}});
    Bytes dvb = ts::SubtitlingDescriptor({{"DEU", 0x10, 1, 2}, {"ENG", 0x24, 0x1234, 0xABCD}});
    Bytes dvbWithRemainder = ts::SubtitlingDescriptor({{"fra", 0x14, 3, 4}});
    dvbWithRemainder[1] = 12;
    dvbWithRemainder.insert(dvbWithRemainder.end(), {1, 2, 3, 4});
    ts::TsBuilder b;
    b.AddNull(100);
    for (int i = 0; i < 3; ++i) {
        b.AddSection(0, ts::Pat(7, {{0, 0x10}, {1, 0x100}, {2, 0x200}, {3, 0x300}}));
        b.AddSection(0x100, ts::Pmt(1, 0x101,
                                    {{0x02, 0x101, {}},
                                     {0x06, 0x102, Cat({ts::Descriptor(0x45, {1, 2}), txt})},
                                     {0x06, 0x103, dvb}}));
        b.AddSection(0x200, ts::Pmt(2, 0x201, {{0x06, 0x202, ts::SubtitlingDescriptor({{"eng", 0x10, 1, 1}})}}));
        b.AddSection(0x300, ts::Pmt(3, 0x301,
                                    {{0x02, 0x301, ts::SubtitlingDescriptor({{"ita", 0x10, 1, 1}})},
                                     {0x06, 0x302, dvbWithRemainder}}));
        b.AddNull(200);
    }
    return b.Data();
}

TEST(PMTLoader, ReadsTheServicesProgrammeAndRecordsItsSubtitles) {
    DemuxEnv env;
    ASSERT_TRUE(env.LoadBytes(ThreeProgrammeStream()));
    env.replay.SetLoop(true);  // the tables repeat, as on air
    PMTLoader loader;
    testing::internal::CaptureStderr();
    // Programme 3 is found by its service id in the PAT, whatever PMT PID
    // the front end reports.
    EXPECT_EQ(loader.GetAllPIDs(3, 0x100), 1);
    EXPECT_TRUE(loader.TxtList().empty());
    std::vector<std::string> dvb;
    for (const DVBDescriptor* d : loader.DvbList())
        dvb.push_back(d->language + " " + std::to_string(d->type) + " " + std::to_string(d->pid) + " " +
                      std::to_string(d->serviceId) + " " + std::to_string(d->compositionPageId) + " " +
                      std::to_string(d->ancillaryPageId));
    EXPECT_EQ(dvb, (std::vector<std::string>{"fre 20 770 3 3 4"}));
    int pid = -1, page = -1;
    EXPECT_EQ(loader.FindDVBSubtitle(3, "ita", pid), 0);  // on a video stream: ignored
    int count = loader.GetAllPIDs(1, 0x100);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count, 2);  // the teletext and the DVB of programme 1

    std::vector<std::vector<int>> txt;
    for (const TXTDescriptor* d : loader.TxtList()) {
        txt.push_back({d->type, d->pid, d->serviceId, d->magazine, d->page, d->pageNumber});
        EXPECT_EQ(d->language, txt.size() == 3 ? "eng" : txt.size() == 4 ? "fin" : "swe");
    }
    EXPECT_EQ(txt, (std::vector<std::vector<int>>{{5, 0x102, 1, 0, 0x888, 0x88},
                                                 {2, 0x102, 1, 0, 0x888, 0x58},
                                                 {2, 0x102, 1, 0, 0x889, 0x59},
                                                 {2, 0x102, 1, 1, 0x150, 0x50}}));
    dvb.clear();
    for (const DVBDescriptor* d : loader.DvbList())
        dvb.push_back(d->language + " " + std::to_string(d->type) + " " + std::to_string(d->pid) + " " +
                      std::to_string(d->serviceId) + " " + std::to_string(d->compositionPageId) + " " +
                      std::to_string(d->ancillaryPageId));
    EXPECT_EQ(dvb, (std::vector<std::string>{"ger 16 259 1 1 2", "eng 36 259 1 4660 43981"}));

    EXPECT_NE(log.find("TEKO: Scan stream for subtitles using PAT, PMT...\n"
                       "TEKO: SearchSID:0x0003  SearchPMT:0x0100 \n"
                       "TEKO: Using DemuxDevice: /dev/dvb/adapter0/demux0\n"),
              std::string::npos);
    EXPECT_NE(log.find("TEKO:    WARNING! Changed page from 858 to 888...\n"
                       "TEKO:    TXT-Subtitle: ServiceID=0x0001 PID=0x102\n"
                       "TEKO:            Lang: swe\n"
                       "TEKO:            Type: 2\n"
                       "TEKO:            Page: 888\n"),
              std::string::npos);
    EXPECT_NE(log.find("TEKO:    WARNING! Changed page from 859 to 889...\n"), std::string::npos);
    EXPECT_NE(log.find("TEKO:    DVB-Subtitle: ServiceID=0x0001 PID=0x103\n"
                       "TEKO:            Lang: eng\n"
                       "TEKO:            Type: 36\n"
                       "TEKO:            Comp: 1234\n"
                       "TEKO:            ANCI: abcd\n"),
              std::string::npos);
    EXPECT_EQ(env.demux.OpenCount(), 0);

    EXPECT_EQ(loader.FindTXTSubtitle(1, "swe", 2, pid, page), 1);
    EXPECT_EQ(pid, 0x102);
    EXPECT_EQ(page, 0x888);  // the type-2 entry, not the type-5 one before it
    EXPECT_EQ(loader.FindTXTSubtitle(1, "swe", 5, pid, page), 1);
    EXPECT_EQ(loader.FindTXTSubtitle(1, "swe", 1, pid, page), 0);
    pid = page = -1;
    EXPECT_EQ(loader.FindTXTSubtitle(1, "sw", 2, pid, page), 0);
    EXPECT_EQ(pid, -1);
    EXPECT_EQ(page, -1);
    EXPECT_EQ(loader.FindDVBSubtitle(1, "ger", pid), 1);
    EXPECT_EQ(pid, 0x103);
    EXPECT_EQ(loader.FindDVBSubtitle(1, "deu", pid), 0);
    EXPECT_EQ(loader.FindDVBSubtitle(3, "ger", pid), 0);  // another programme's entry
}

TEST(PMTLoader, FailuresReturnTheirCodesAndCloseTheDevice) {
    {
        PMTLoader loader;
        testing::internal::CaptureStderr();
        EXPECT_EQ(loader.GetAllPIDs(1, 0), -1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    TempRoot bare;  // no demultiplexer
    {
        PMTLoader loader;
        testing::internal::CaptureStderr();
        EXPECT_EQ(loader.GetAllPIDs(1, 0x100), 0);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("TEKO: Error open(DMX)\n"), std::string::npos);
    }
    {
        DemuxEnv env;  // no PAT at all: the 5 s time-out
        ts::TsBuilder b;
        b.AddNull(10);
        ASSERT_TRUE(env.LoadBytes(b.Data()));
        PMTLoader loader;
        testing::internal::CaptureStderr();
        EXPECT_EQ(loader.GetAllPIDs(1, 0x100), -1);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("TEKO: Error read(PAT)\n"), std::string::npos);
        EXPECT_EQ(env.demux.OpenCount(), 0);
    }
    {
        DemuxEnv env;  // a PAT with no programme entry
        ts::TsBuilder b;
        b.AddSection(0, ts::Pat(1, {})).AddNull(5);
        ASSERT_TRUE(env.LoadBytes(b.Data()));
        PMTLoader loader;
        EXPECT_EQ(loader.GetAllPIDs(5, 0x100), 0);
        EXPECT_EQ(env.demux.OpenCount(), 0);
    }
    {
        DemuxEnv env;  // a matching programme whose PMT never comes
        ts::TsBuilder b;
        b.AddSection(0, ts::Pat(1, {{5, 0x500}})).AddNull(5);
        ASSERT_TRUE(env.LoadBytes(b.Data()));
        PMTLoader loader;
        testing::internal::CaptureStderr();
        EXPECT_EQ(loader.GetAllPIDs(5, 0x100), 0);
        EXPECT_NE(testing::internal::GetCapturedStderr().find("TEKO: Error read(PMT)\n"), std::string::npos);
        EXPECT_EQ(env.demux.OpenCount(), 0);
    }
}

TEST(PMTLoader, LanguageMappingIsExactAndLeavesOtherCodesAlone) {
    PMTLoader loader;
    const char* pairs[][2] = {{"esl", "spa"}, {"esp", "spa"}, {"deu", "ger"}, {"fra", "fre"}, {"ces", "cze"},
                              {"ell", "gre"}, {"hrv", "scr"}, {"ron", "rum"}, {"slk", "slo"}, {"srp", "scc"},
                              {"swe", "swe"}, {"ger", "ger"}, {"DEU", "DEU"}, {"de", "de"}};
    for (const auto& p : pairs) {
        std::string out;
        EXPECT_EQ(loader.GetLanguage(p[0], out), 0);
        EXPECT_EQ(out, p[1]) << p[0];
    }
}

// Lengths that point past the section, descriptors with remainders and a
// PMT with hundreds of streams: reads stay within what was received.
TEST(PMTLoader, LyingLengthsStayWithinTheReceivedBytes) {
    PMTLoader loader;
    testing::internal::CaptureStderr();
    Bytes pmt = ts::Pmt(1, 0x100, {{0x06, 0x101, ts::TeletextDescriptor({{"eng", 2, 1, 0x00}})}});
    for (size_t cut = 0; cut <= pmt.size(); ++cut) loader.ParsePMT(pmt.data(), int(cut));
    Bytes lying = pmt;
    lying[10] = 0x0F, lying[11] = 0xFF;  // program_info_length 4095
    EXPECT_EQ(loader.ParsePMT(lying.data(), int(lying.size())), 0);
    lying = pmt;
    lying[12 + 3] = 0x0F, lying[12 + 4] = 0xFF;  // ES_info_length 4095
    EXPECT_EQ(loader.ParsePMT(lying.data(), int(lying.size())), 1);
    lying = pmt;
    lying[12 + 6] = 0xFF;  // descriptor_length past the ES_info loop
    EXPECT_EQ(loader.ParsePMT(lying.data(), int(lying.size())), 0);
    std::vector<ts::EsEntry> many(200, ts::EsEntry{0x06, 0x200, {}});
    Bytes big = ts::Pmt(1, 0x100, many);
    ASSERT_LE(big.size(), 1024u);
    EXPECT_EQ(loader.ParsePMT(big.data(), int(big.size())), 0);
    std::vector<std::pair<int, int>> matches;
    Bytes pat = ts::Pat(1, {{1, 0x100}, {2, 0x100}, {3, 0x200}});
    EXPECT_EQ(PMTLoader::MatchPAT(pat.data(), int(pat.size()), 2, matches), 1);
    matches.clear();
    EXPECT_EQ(PMTLoader::MatchPAT(pat.data(), 14, 2, matches), 0);  // only wholly received entries
    EXPECT_EQ(PMTLoader::MatchPAT(pat.data(), 2, 2, matches), -1);
    testing::internal::GetCapturedStderr();
}

}  // namespace
