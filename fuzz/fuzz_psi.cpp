// PAT and PMT parsing on arbitrary sections of up to 1024 bytes (the
// loader's buffer): the PAT walk, the PMT walk and both descriptor parsers
// must stay within the received bytes whatever the lengths claim.
#include <cstdint>
#include <cstring>

#include "demux/PMTLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static PMTLoader* loader = new PMTLoader;
    if (size > size_t(PMTLoader::kSectionBufferSize)) size = PMTLoader::kSectionBufferSize;
    // A heap copy of exactly the received bytes, so that a read past them is caught.
    unsigned char* section = new unsigned char[size ? size : 1];
    if (size) std::memcpy(section, data, size);
    std::vector<std::pair<int, int>> matches;
    int serviceId = size > 4 ? (section[3] << 8) | section[4] : 1;
    PMTLoader::MatchPAT(section, int(size), serviceId, matches);
    loader->ParsePMT(section, int(size));
    int pid = 0, page = 0;
    loader->FindDVBSubtitle(serviceId, "eng", pid);
    loader->FindTXTSubtitle(serviceId, "eng", 2, pid, page);
    loader->GetAllPIDs(0, 0);  // empties the lists (no PMT PID: nothing else happens)
    delete[] section;
    return 0;
}
