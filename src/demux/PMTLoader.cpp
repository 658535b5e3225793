#include "demux/PMTLoader.h"

#include <fcntl.h>
#include <sys/ioctl.h>
// sys/ioctl.h first: the DVB header uses its request macros.
#include <linux/dvb/dmx.h>

#include <algorithm>
#include <cstring>

#include "platform/Log.h"
#include "platform/ByteReader.h"
#include "platform/Constants.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace {
constexpr unsigned kSectionTimeoutMs = 5000;

// A one-shot, CRC-checked section filter on table_id and, when
// `extension` is not negative, on table_id_extension (a PMT's
// program_number, ISO/IEC 13818-1 §2.4.4.8): PMT sections of several
// programmes may share one PID, and only the wanted one is to be read.
int SetSectionFilter(int fd, int pid, uint8_t tableId, int extension = -1) {
    dmx_sct_filter_params params;
    std::memset(&params, 0, sizeof params);
    params.pid = uint16_t(pid);
    params.filter.filter[ids::kFilterTableId] = tableId;
    params.filter.mask[ids::kFilterTableId] = 0xFF;
    if (extension >= 0) {
        params.filter.filter[ids::kFilterExtensionHigh] = uint8_t(extension >> 8);
        params.filter.mask[ids::kFilterExtensionHigh] = 0xFF;
        params.filter.filter[ids::kFilterExtensionLow] = uint8_t(extension);
        params.filter.mask[ids::kFilterExtensionLow] = 0xFF;
    }
    params.timeout = kSectionTimeoutMs;
    params.flags = DMX_CHECK_CRC | DMX_ONESHOT | DMX_IMMEDIATE_START;
    return platform::Ioctl(fd, DMX_SET_FILTER, &params);
}

void StopAndClose(int fd) {
    platform::Ioctl(fd, DMX_STOP, nullptr);
    platform::Close(fd);
}

// The three ISO 639 bytes, each OR-ed with 0x20 (ASCII lower case).
std::string LowerCode(ByteReader& r) {
    std::string code;
    for (int i = 0; i < 3; ++i) code.push_back(char(r.U8() | 0x20));
    return code;
}
}  // namespace

PMTLoader::PMTLoader() { eDebug("PMTLoader created.\n"); }

PMTLoader::~PMTLoader() { clearLists(); }

void PMTLoader::clearLists() {
    for (TXTDescriptor* d : txtList) delete d;
    for (DVBDescriptor* d : dvbList) delete d;
    txtList.clear();
    dvbList.clear();
}

int PMTLoader::GetAllPIDs(int serviceId, int pmtPid) {
    clearLists();
    if (pmtPid <= 0) return -1;
    eDebug("Scan stream for subtitles using PAT, PMT...\n");
    eDebug("SearchSID:0x%04x  SearchPMT:0x%04x \n", serviceId, pmtPid);
    eDebug("Using DemuxDevice: %s\n", paths::kDemux);
    int fd = platform::Open(paths::kDemux, O_RDWR);
    if (fd < 0) {
        eWarning("Error open(DMX)\n");
        return 0;
    }
    if (SetSectionFilter(fd, ids::kPidPAT, ids::kTablePAT) < 0) {
        eWarning("Error ioctl(DMX_SET_FILTER PAT)\n");
        StopAndClose(fd);
        return 0;
    }
    unsigned char pat[kSectionBufferSize];
    ssize_t patSize = platform::Read(fd, pat, sizeof pat);
    if (patSize <= 0) {
        eWarning("Error read(PAT)\n");
        StopAndClose(fd);
        return -1;
    }
    std::vector<std::pair<int, int>> matches;
    if (MatchPAT(pat, int(patSize), serviceId, matches) < 0) {
        StopAndClose(fd);
        return 0;
    }
    int count = 0;
    unsigned char pmt[kSectionBufferSize];
    for (const auto& match : matches) {
        if (SetSectionFilter(fd, match.second, ids::kTablePMT, match.first) < 0) {
            eWarning("Error ioctl(DMX_SET_FILTER PMT)\n");
            continue;
        }
        ssize_t pmtSize = platform::Read(fd, pmt, sizeof pmt);
        if (pmtSize <= 0) {
            eWarning("Error read(PMT)\n");
            platform::Ioctl(fd, DMX_STOP, nullptr);
            continue;
        }
        count += ParsePMT(pmt, int(pmtSize));
    }
    StopAndClose(fd);
    return count;
}

// ISO/IEC 13818-1 §2.4.4.3: 4-byte entries from byte 8 up to the CRC. Only
// entries wholly received are looked at. The PMT PID that the front end
// reports is no key: other programmes may have their PMT on that PID too.
int PMTLoader::MatchPAT(const unsigned char* section, int size, int serviceId,
                        std::vector<std::pair<int, int>>& matches) {
    ByteReader header(section, size > 0 ? size_t(size) : 0);
    header.Skip(1);
    int sectionLength = header.U16() & 0xFFF;
    if (!header.Ok() || sectionLength < 10) return -1;
    for (int offset = 10; offset <= sectionLength; offset += 4) {
        ByteReader entry(section, size_t(size));
        entry.Skip(size_t(offset - 2));
        int program = entry.U16();
        int pid = entry.U16() & 0x1FFF;
        if (!entry.Ok()) break;
        if (program == 0) continue;  // network_PID
        if (program == serviceId) matches.emplace_back(program, pid);
    }
    return int(matches.size());
}

// ISO/IEC 13818-1 §2.4.4.8. Reads stay within the received bytes and the
// section's own length; a descriptor that runs past its ES_info loop ends
// the walk of that loop.
int PMTLoader::ParsePMT(const unsigned char* section, int size) {
    ByteReader header(section, size > 0 ? size_t(size) : 0);
    header.Skip(1);
    int sectionLength = header.U16() & 0xFFF;
    int programNumber = header.U16();
    header.Skip(5);
    int programInfoLength = header.U16() & 0xFFF;
    if (!header.Ok()) return 0;
    size_t limit = std::min(size_t(size), size_t(sectionLength) + 3);
    int count = 0;
    for (int e = 12 + programInfoLength; e < sectionLength - 7;) {
        ByteReader entry(section, limit);
        entry.Skip(size_t(e));
        int streamType = entry.U8();
        int pid = entry.U16() & 0x1FFF;
        int esInfoLength = entry.U16() & 0xFFF;
        if (!entry.Ok()) break;
        size_t end = std::min(limit, size_t(e) + 5 + size_t(esInfoLength));
        for (size_t d = size_t(e) + 5; streamType == ids::kStreamTypePrivatePES && d < end;) {
            ByteReader descriptor(section, end);
            descriptor.Skip(d);
            uint8_t tag = descriptor.U8();
            uint8_t length = descriptor.U8();
            if (!descriptor.Skip(length)) break;
            if (tag == ids::kDescTeletext) {
                ++count;
                ParseTXTDescriptor(section + d, pid, programNumber);
            } else if (tag == ids::kDescSubtitling) {
                ++count;
                ParseDVBDescriptor(section + d, pid, programNumber);
            }
            d += 2 + size_t(length);
        }
        e += 5 + esInfoLength;
    }
    return count;
}

// EN 300 468 §6.2.41: 8-byte entries; a remainder is ignored.
int PMTLoader::ParseDVBDescriptor(const unsigned char* descriptor, int pid, int serviceId) {
    ByteReader header(descriptor, 2);
    header.U8();
    size_t length = header.U8();
    ByteReader r(descriptor + 2, length);
    for (size_t i = 0; i < length / 8; ++i) {
        DVBDescriptor* d = new DVBDescriptor;
        d->pid = pid;
        d->serviceId = serviceId;
        GetLanguage(LowerCode(r), d->language);
        d->type = r.U8();
        d->compositionPageId = r.U16();
        d->ancillaryPageId = r.U16();
        eDebug("   DVB-Subtitle: ServiceID=0x%04x PID=0x%x\n", serviceId, pid);
        eDebug("           Lang: %s\n", d->language.c_str());
        eDebug("           Type: %d\n", d->type);
        eDebug("           Comp: %x\n", d->compositionPageId);
        eDebug("           ANCI: %x\n", d->ancillaryPageId);
        dvbList.push_back(d);
    }
    return 0;
}

// EN 300 468 §6.2.43: 5-byte entries; only subtitle pages are recorded.
int PMTLoader::ParseTXTDescriptor(const unsigned char* descriptor, int pid, int serviceId) {
    ByteReader header(descriptor, 2);
    header.U8();
    size_t length = header.U8();
    ByteReader r(descriptor + 2, length);
    for (size_t i = 0; i < length / 5; ++i) {
        std::string code = LowerCode(r);
        uint8_t typeAndMagazine = r.U8();
        uint8_t pageNumber = r.U8();
        int type = typeAndMagazine >> 3;
        if (type != ids::kTeletextTypeSubtitle && type != ids::kTeletextTypeHearingImpaired) continue;
        TXTDescriptor* d = new TXTDescriptor;
        d->pid = pid;
        d->serviceId = serviceId;
        GetLanguage(code, d->language);
        d->type = type;
        d->magazine = typeAndMagazine & 0x07;
        d->pageNumber = pageNumber;
        // EN 300 706 §3.1: magazine 0 stands for magazine 8.
        d->page = (d->magazine << 8) | pageNumber;
        if (d->page < 0x100) d->page += 0x800;
        if (d->page == 0x858) {
            eDebug("   WARNING! Changed page from 858 to 888...\n");
            d->page = 0x888;
        } else if (d->page == 0x859) {
            eDebug("   WARNING! Changed page from 859 to 889...\n");
            d->page = 0x889;
        }
        eDebug("   TXT-Subtitle: ServiceID=0x%04x PID=0x%x\n", serviceId, pid);
        eDebug("           Lang: %s\n", d->language.c_str());
        eDebug("           Type: %d\n", d->type);
        eDebug("           Page: %x\n", d->page);
        txtList.push_back(d);
    }
    return 0;
}

// ISO 639-2 terminology codes (and two Spanish variants) to the
// bibliographic forms the configuration uses.
int PMTLoader::GetLanguage(std::string code, std::string& out) {
    static const char* const kMap[][2] = {
        {"esl", "spa"}, {"esp", "spa"}, {"deu", "ger"}, {"fra", "fre"}, {"ces", "cze"},
        {"ell", "gre"}, {"hrv", "scr"}, {"ron", "rum"}, {"slk", "slo"}, {"srp", "scc"},
    };
    out = code;
    for (const auto& entry : kMap) {
        if (code == entry[0]) {
            out = entry[1];
            break;
        }
    }
    return 0;
}

int PMTLoader::FindDVBSubtitle(int serviceId, std::string language, int& pid) {
    eDebug("PMT::Looking for DVB Subtiles...\n");
    for (const DVBDescriptor* d : dvbList) {
        if (d->serviceId == serviceId && d->language == language) {
            pid = d->pid;
            return 1;
        }
    }
    return 0;
}

int PMTLoader::FindTXTSubtitle(int serviceId, std::string language, int type, int& pid, int& page) {
    eDebug("PMT::Looking for TXT Subtiles...\n");
    for (const TXTDescriptor* d : txtList) {
        if (d->serviceId == serviceId && d->language == language && d->type == type) {
            pid = d->pid;
            page = d->page;
            return 1;
        }
    }
    return 0;
}
