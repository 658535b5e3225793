#include "SimRun.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/TestBuild.h"

extern char** environ;

namespace e2e {

std::string SimBinary() { return TEKO_BINARY_DIR "/sim/tekod-sim"; }

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out);
}

void RemoveTree(const std::string& dir) {
    if (dir.empty()) return;
    nftw(
        dir.c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

namespace {

// The fields of each line of a TSV file after its header.
std::vector<std::vector<std::string>> ParseTsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        size_t from = 0;
        for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            f.push_back(line.substr(from, tab - from));
        f.push_back(line.substr(from));
        rows.push_back(f);
    }
    return rows;
}

std::vector<int> ParseRows(const std::string& text) {
    std::vector<int> rows;
    std::istringstream list(text);
    for (std::string row; std::getline(list, row, ',');) rows.push_back(std::stoi(row));
    return rows;
}

std::vector<Change> ParseTimeline(const std::string& text) {
    std::vector<Change> changes;
    for (const std::vector<std::string>& f : ParseTsv(text)) {
        if (f.size() < 9) continue;
        Change c;
        c.ms = std::stoll(f[0]);
        c.blit = std::stoi(f[1]);
        c.firstRow = std::stoi(f[2]);
        c.lastRow = std::stoi(f[3]);
        c.png = f[4];
        c.text = f[5];
        c.logBytes = std::stoll(f[6]);
        c.pes = std::stoul(f[7]);
        c.rows = ParseRows(f[8]);
        changes.push_back(c);
    }
    return changes;
}

std::vector<Handed> ParseHanded(const std::string& text) {
    std::vector<Handed> handed;
    for (const std::vector<std::string>& f : ParseTsv(text)) {
        if (f.size() < 3) continue;
        handed.push_back({std::stoll(f[0]), std::stoi(f[1], nullptr, 16), std::stoul(f[2])});
    }
    return handed;
}

}  // namespace

SimResult RunSim(const std::vector<std::string>& args, const std::string& outDir) {
    SimResult result;
    result.dir = outDir;
    char pattern[] = "/tmp/teko-e2e-run-XXXXXX";
    const int outFd = mkstemp(pattern);
    const std::string outPath = pattern;
    char patternErr[] = "/tmp/teko-e2e-err-XXXXXX";
    const int errFd = mkstemp(patternErr);
    const std::string errPath = patternErr;

    // A cross build's tekod-sim runs under the emulator its tests run under
    // (no binfmt handler need be registered), found on the PATH.
    std::vector<std::string> words;
    for (const char* const* w = testbuild::kEmulator; *w; ++w) words.emplace_back(*w);
    words.push_back(SimBinary());
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    pid_t pid = -1;
    if (outFd >= 0 && errFd >= 0 && posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    if (outFd >= 0) close(outFd);
    if (errFd >= 0) close(errFd);
    result.out = ReadText(outPath);
    result.err = ReadText(errPath);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    if (!outDir.empty()) {
        result.changes = ParseTimeline(ReadText(outDir + "/timeline.tsv"));
        result.handed = ParseHanded(ReadText(outDir + "/pes.tsv"));
        result.log = ReadText(outDir + "/log.txt");
    }
    return result;
}

SimResult RunDemo(const std::string& outDir, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--ts", TEKO_SOURCE_DIR "/data/samples/demo.ts", "--out", outDir, "--config",
                                     TEKO_SOURCE_DIR "/data/samples/demo.conf", "--service", "1", "--zap", "33:2",
                                     "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    SimResult r = RunSim(args, outDir);
    EXPECT_EQ(r.status, 0) << r.err;
    return r;
}

dvbref::Screen ReadScreen(const std::string& dir, const Change& change, int bitsPerPixel, int width, int height) {
    std::string name = change.png;
    if (name.size() > 4) name.replace(name.size() - 4, 4, ".raw");
    const std::string bytes = ReadText(dir + "/screens/" + name);
    const size_t pixels = size_t(width) * size_t(height);
    const size_t each = bitsPerPixel == 32 ? 4 : 1;
    if (bytes.size() != pixels * each) return {};
    dvbref::Screen screen(pixels);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    if (each == 1) {
        std::copy(p, p + pixels, screen.begin());
    } else {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        std::memcpy(screen.data(), p, pixels * 4);
#else
        for (size_t i = 0; i < pixels; ++i, p += 4)
            screen[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
#endif
    }
    return screen;
}

}  // namespace e2e
