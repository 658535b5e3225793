// Finds the subtitle streams of a service: reads a PAT section and the PMT
// section of the service's programme (filtered by program_number, as
// several programmes may share a PMT PID) through section filters on the
// demultiplexer, and records every subtitling_descriptor entry and every
// Teletext subtitle-page entry with its language (ISO/IEC 13818-1,
// EN 300 468).
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "demux/DVBDescriptor.h"
#include "demux/TXTDescriptor.h"

class PMTLoader {
public:
    PMTLoader();
    virtual ~PMTLoader();
    PMTLoader(const PMTLoader&) = delete;
    PMTLoader& operator=(const PMTLoader&) = delete;

    // -1 (no PMT PID, or the PAT could not be read), 0 (failure or nothing
    // found) or the number of teletext and subtitling descriptors met.
    int GetAllPIDs(int serviceId, int pmtPid);
    // The first entry of the service's programme in that language (and
    // Teletext type): 1 and its PID (and page), else 0.
    int FindDVBSubtitle(int serviceId, std::string language, int& pid);
    int FindTXTSubtitle(int serviceId, std::string language, int type, int& pid, int& page);
    static int GetLanguage(std::string code, std::string& out);
    // `descriptor` points at the tag byte; the 2 + descriptor_length bytes
    // from there must have been received (the PMT walk checks it).
    int ParseDVBDescriptor(const unsigned char* descriptor, int pid, int serviceId);
    int ParseTXTDescriptor(const unsigned char* descriptor, int pid, int serviceId);

    // The PAT walk: the (program_number, PMT PID) entries of the service,
    // in PAT order. -1 when section_length is below 10.
    static int MatchPAT(const unsigned char* section, int size, int serviceId,
                        std::vector<std::pair<int, int>>& matches);
    // Parses one PMT section of `size` received bytes; returns the number
    // of teletext and subtitling descriptors met.
    int ParsePMT(const unsigned char* section, int size);

    const std::list<TXTDescriptor*>& TxtList() const { return txtList; }
    const std::list<DVBDescriptor*>& DvbList() const { return dvbList; }

    // ISO/IEC 13818-1 §2.4.4: the largest PAT or PMT section.
    static constexpr int kSectionBufferSize = 1024;

private:
    void clearLists();

    std::list<TXTDescriptor*> txtList;
    std::list<DVBDescriptor*> dvbList;
};
