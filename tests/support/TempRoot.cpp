#include "support/TempRoot.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {
std::string MakeTempDir() {
    char pattern[] = "/tmp/teko-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) throw std::runtime_error("mkdtemp failed");
    return dir;
}

void MakeDirs(const std::string& path) {
    for (size_t pos = 1; pos != std::string::npos; pos = path.find('/', pos + 1)) {
        mkdir(path.substr(0, pos).c_str(), 0755);
    }
    mkdir(path.c_str(), 0755);
}
}  // namespace

TempRoot::TempRoot() : path_(MakeTempDir()), backend_(path_) {
    for (const char* sub : {"/etc", "/tmp", "/dev/dvb/adapter0", "/dev/fb", "/usr/share/fonts"}) {
        MakeDirs(path_ + sub);
    }
    platform::Install(&backend_);
}

TempRoot::~TempRoot() {
    if (&platform::Current() == &backend_) platform::Install(nullptr);
    std::string command = "rm -rf '" + path_ + "'";
    if (system(command.c_str()) != 0) {
        // Leaving a temporary folder behind is harmless.
    }
}

void TempRoot::Write(const std::string& fixedPath, const std::string& contents) const {
    std::string full = At(fixedPath);
    MakeDirs(full.substr(0, full.rfind('/')));
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << contents;
}

void TempRoot::Copy(const std::string& fixedPath, const std::string& sourcePath) const {
    std::ifstream in(sourcePath, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    Write(fixedPath, bytes.str());
}

void TempRoot::Remove(const std::string& fixedPath) const { unlink(At(fixedPath).c_str()); }

bool TempRoot::Exists(const std::string& fixedPath) const {
    struct stat st;
    return stat(At(fixedPath).c_str(), &st) == 0;
}
