#include "E2eTest.h"

#include <stdlib.h>

#include <cstdio>

namespace e2e {

TempDir::TempDir() {
    char pattern[] = "/tmp/teko-e2e-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
}

// E2E_KEEP=1 keeps the folders of a run to look at.
TempDir::~TempDir() {
    if (getenv("E2E_KEEP")) {
        printf("[ e2e ] kept %s\n", path_.c_str());
        return;
    }
    RemoveTree(path_);
}

std::string WriteConfig(const std::string& dir, const std::string& language, const std::string& extra) {
    const std::string path = dir + "/TEKO.conf";
    WriteText(path, "Language " + language + "\nSecondaryLanguage " + language + "\n" + extra);
    return path;
}

std::vector<std::string> RunArgs(const std::string& ts, const std::string& out, const std::string& config,
                                 int service, int bpp) {
    return {"--ts", ts,    "--out", out, "--config", config, "--service", std::to_string(service),
            "--bpp", std::to_string(bpp), "--raw", "--quiet"};
}

}  // namespace e2e
