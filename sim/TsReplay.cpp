#include "TsReplay.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>

#include "SectionAssembler.h"
#include "platform/ByteReader.h"
#include "platform/Constants.h"

namespace {
constexpr size_t kPacket = ids::kTsPacketSize;
constexpr int64_t kClockPeriod = int64_t(1) << 33;
// A clock step outside (0, 10 s] between consecutive samples is a
// discontinuity, not a rate.
constexpr int64_t kMaxStep90k = 10 * 90000;

int64_t Wrap33(int64_t v) {
    v %= kClockPeriod;
    return v < 0 ? v + kClockPeriod : v;
}

template <typename Map>
int BusiestPid(const Map& samples) {
    int best = -1;
    size_t most = 1;  // one sample gives no rate
    for (const auto& entry : samples) {
        if (entry.second.size() > most) {
            most = entry.second.size();
            best = entry.first;
        }
    }
    return best;
}
}  // namespace

TsReplay::TsReplay(SimClock& clock) : clock_(clock) { clock_.SetSource(this); }

TsReplay::~TsReplay() { clock_.SetSource(nullptr); }

bool TsReplay::Load(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return LoadBytes(std::move(bytes), error);
}

bool TsReplay::LoadBytes(std::vector<uint8_t> bytes, std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    data_ = std::move(bytes);
    Index();
    if (offsets_.empty()) {
        if (error) *error = "no transport stream packet (sync byte 0x47, 188 bytes)";
        return false;
    }
    return true;
}

// Packets as the software demultiplexer finds them: at a sync byte, and
// after a lost sync at the next 0x47 (the bytes between are counted).
void TsReplay::Index() {
    offsets_.clear();
    pcr_.clear();
    pts_.clear();
    pcrPidOf_.clear();
    pmtPids_.clear();
    skipped_ = 0;
    std::map<int, SectionAssembler> psi;
    for (size_t pos = 0;;) {
        const size_t next = NextTsPacket(data_.data(), data_.size(), pos);
        skipped_ += next - pos;
        pos = next;
        if (pos == data_.size()) break;
        size_t index = offsets_.size();
        offsets_.push_back(pos);
        TsPacketInfo info;
        ParseTsPacket(&data_[pos], info);
        pos += kPacket;
        if (info.pcr >= 0) pcr_[info.pid].push_back({index, info.pcr});
        if (info.unitStart && info.payload) {
            int64_t pts = PesPtsOf(info.payload, info.payloadSize);
            if (pts >= 0) pts_[info.pid].push_back({index, pts});
        }
        if (info.pid == ids::kPidPAT || pmtPids_.count(info.pid)) {
            psi[info.pid].Feed(info, [&](const uint8_t* s, size_t n) { ScanPsi(info.pid, s, n); });
        }
    }
    pacingPid_ = BusiestPid(pcr_);
    if (pacingPid_ >= 0) {
        pacing_ = Pacing::kPcr;
        BuildTimeline(pcr_[pacingPid_]);
        return;
    }
    pacingPid_ = BusiestPid(pts_);
    pacing_ = pacingPid_ >= 0 ? Pacing::kPts : Pacing::kNominal;
    BuildTimeline(pacingPid_ >= 0 ? pts_[pacingPid_] : std::vector<Sample>());
}

// Programmes map their PCR PID and every PID their PMT lists.
void TsReplay::ScanPsi(int pid, const uint8_t* section, size_t size) {
    if (size < 12 || SectionCrc32(section, size) != 0) return;
    ByteReader r(section, size - 4);
    uint8_t tableId = r.U8();
    r.Skip(7);
    if (pid == ids::kPidPAT && tableId == ids::kTablePAT) {
        while (r.Remaining() >= 4) {
            int program = r.U16();
            int pmt = r.U16() & 0x1FFF;
            if (program != 0) pmtPids_.insert(pmt);
        }
        return;
    }
    if (tableId != ids::kTablePMT) return;
    int pcrPid = r.U16() & 0x1FFF;
    r.Skip(r.U16() & 0x0FFF);
    pcrPidOf_[pcrPid] = pcrPid;
    while (r.Ok() && r.Remaining() >= 5) {
        r.Skip(1);
        int es = r.U16() & 0x1FFF;
        r.Skip(r.U16() & 0x0FFF);
        if (r.Ok() && !pcrPidOf_.count(es)) pcrPidOf_[es] = pcrPid;
    }
}

void TsReplay::BuildTimeline(const std::vector<Sample>& anchors) {
    size_t n = offsets_.size();
    times_.assign(n, 0);
    // Ticks per packet over each good span between consecutive anchors.
    std::vector<double> rate(n, -1.0);
    double spanTicks = 0, spanPackets = 0;
    for (size_t k = 1; k < anchors.size(); ++k) {
        int64_t step = anchors[k].value - anchors[k - 1].value;
        size_t packets = anchors[k].index - anchors[k - 1].index;
        if (step <= 0 || step > kMaxStep90k || packets == 0) continue;
        double perPacket = double(step) / double(packets);
        for (size_t i = anchors[k - 1].index + 1; i <= anchors[k].index; ++i) rate[i] = perPacket;
        spanTicks += double(step);
        spanPackets += double(packets);
    }
    double average = spanPackets > 0 ? spanTicks / spanPackets : 90000.0 / kNominalPacketsPerSecond;
    double t = 0;  // 90 kHz
    for (size_t i = 1; i < n; ++i) {
        t += rate[i] >= 0 ? rate[i] : average;
        times_[i] = int64_t(t * 1000.0 / 90.0);
    }
    duration_ = n ? times_[n - 1] + int64_t(average * 1000.0 / 90.0) : 0;
}

int TsReplay::PcrPidOf(int pid) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pcrPidOf_.find(pid);
    return it == pcrPidOf_.end() ? -1 : it->second;
}

const std::vector<TsReplay::Sample>* TsReplay::ClockSamples(int pid) const {
    auto pcrOf = pcrPidOf_.find(pid);
    if (pid >= 0 && pcrOf != pcrPidOf_.end() && pcrOf->second >= 0) {
        auto it = pcr_.find(pcrOf->second);
        if (it != pcr_.end()) return &it->second;
    }
    auto own = pcr_.find(pid);
    if (own != pcr_.end()) return &own->second;
    auto pts = pts_.find(pid);
    if (pts != pts_.end()) return &pts->second;
    if (pacing_ == Pacing::kPcr) return &pcr_.at(pacingPid_);
    if (pacing_ == Pacing::kPts) return &pts_.at(pacingPid_);
    return nullptr;
}

int64_t TsReplay::Stc(int pid) const {
    std::lock_guard<std::mutex> lock(mutex_);
    // A looped capture stands for a broadcast that goes on: its clock runs
    // on across passes instead of jumping back at each one, so a time-out
    // set in one pass falls due in the next.
    const int64_t passes = int64_t(loops_) * duration_ * 90 / 1000;
    return Wrap33(StcLocked(pid, PositionLocked(clock_.NowMicros())) + passes);
}

int64_t TsReplay::StcAt(int pid, int64_t position) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return StcLocked(pid, position);
}

int64_t TsReplay::StcLocked(int pid, int64_t position) const {
    const std::vector<Sample>* samples = ClockSamples(pid);
    if (!samples || samples->empty()) return Wrap33(position * 90 / 1000);
    // The last sample delivered by now, or the first one ahead of it.
    auto later = std::upper_bound(samples->begin(), samples->end(), position,
                                  [this](int64_t p, const Sample& s) { return p < times_[s.index]; });
    const Sample& s = later == samples->begin() ? *later : *(later - 1);
    return Wrap33(s.value + (position - times_[s.index]) * 90 / 1000);
}

void TsReplay::SetSink(Sink* sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = sink;
}

void TsReplay::SetLoop(bool loop) {
    std::lock_guard<std::mutex> lock(mutex_);
    loop_ = loop;
}

void TsReplay::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return;
    started_ = running_ = true;
    finished_ = false;
    next_ = 0;
    startMicros_ = clock_.NowMicros();
}

void TsReplay::Restart() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    Start();
}

void TsReplay::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
}

bool TsReplay::Started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}

bool TsReplay::Finished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

bool TsReplay::WaitFinished(int64_t millis) {
    const std::function<bool()> finished = [this] { return Finished(); };
    return clock_.Wait(finished, clock_.NowMicros() + millis * 1000, "the end of the replay");
}

int TsReplay::Loops() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return loops_;
}

size_t TsReplay::Delivered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return delivered_;
}

int64_t TsReplay::PositionMicros() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return PositionLocked(clock_.NowMicros());
}

int64_t TsReplay::PositionLocked(int64_t now) const {
    if (!started_) return 0;
    int64_t position = now - startMicros_;
    return position < 0 ? 0 : position;
}

// At the end of a pass: the next pass of a loop, or the end.
void TsReplay::Roll() {
    if (next_ < offsets_.size() || finished_) return;
    if (loop_ && !offsets_.empty()) {
        startMicros_ += duration_ > 0 ? duration_ : 1;
        next_ = 0;
        ++loops_;
    } else {
        finished_ = true;
    }
}

int64_t TsReplay::NextDue() {
    std::lock_guard<std::mutex> lock(mutex_);
    Roll();
    if (!running_ || finished_ || next_ >= offsets_.size()) return SimClock::kNever;
    return startMicros_ + times_[next_];
}

// Every packet whose time has come, in order. The sink's lock is taken
// after this one is let go, as when the daemon asks for the clock under the
// sink's lock.
void TsReplay::RunDue(int64_t now) {
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        Roll();
        if (!running_ || finished_ || next_ >= offsets_.size() || startMicros_ + times_[next_] > now) return;
        const size_t index = next_++;
        ++delivered_;
        Sink* sink = sink_;
        lock.unlock();
        if (sink) sink->OnPacket(PacketAt(index));
    }
}
