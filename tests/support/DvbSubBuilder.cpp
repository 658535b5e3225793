#include "support/DvbSubBuilder.h"

#include "support/TsBuilder.h"

namespace dvbsub {
namespace {

void Put16(Bytes& b, int v) {
    b.push_back(uint8_t((v >> 8) & 0xFF));
    b.push_back(uint8_t(v & 0xFF));
}

// Most significant bit first, as every EN 300 743 field.
class BitWriter {
public:
    void Put(unsigned value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80 >> used_);
            used_ = (used_ + 1) & 7;
        }
    }
    // Pads to a byte boundary with zero bits (EN 300 743: 2/4_stuff_bits).
    const Bytes& Bytes_() { used_ = 0; return bytes_; }

private:
    Bytes bytes_;
    int used_ = 0;
};

void Encode2(BitWriter& w, int count, int code) {
    while (count > 0) {
        if (code != 0 && count < 3) {
            w.Put(unsigned(code), 2);
            --count;
        } else if (code == 0 && count == 1) {
            w.Put(0, 2), w.Put(1, 2);  // 00 01: one pixel of code 0
            --count;
        } else if (code == 0 && count == 2) {
            w.Put(0, 2), w.Put(0, 2), w.Put(1, 2);  // 00 00 01: two pixels of code 0
            count -= 2;
        } else if (count <= 10) {
            w.Put(0, 2), w.Put(1, 1), w.Put(unsigned(count - 3), 3), w.Put(unsigned(code), 2);
            count = 0;
        } else if (count == 11 || count == 28) {
            Encode2(w, 10, code);  // no code covers these lengths in one go
            count -= 10;
        } else if (count <= 27) {
            w.Put(0, 2), w.Put(0, 2), w.Put(2, 2), w.Put(unsigned(count - 12), 4), w.Put(unsigned(code), 2);
            count = 0;
        } else {
            const int n = count > 284 ? 284 : count;
            w.Put(0, 2), w.Put(0, 2), w.Put(3, 2), w.Put(unsigned(n - 29), 8), w.Put(unsigned(code), 2);
            count -= n;
        }
    }
}

void Encode4(BitWriter& w, int count, int code) {
    while (count > 0) {
        if (code == 0 && count <= 2) {
            w.Put(0, 4), w.Put(count == 1 ? 0xC : 0xD, 4);
            count = 0;
        } else if (code == 0 && count <= 9) {
            w.Put(0, 4), w.Put(unsigned(count - 2), 4);  // switch_1 0, run_length_3-9
            count = 0;
        } else if (code != 0 && count < 4) {
            w.Put(unsigned(code), 4);
            --count;
        } else if (count <= 7) {
            w.Put(0, 4), w.Put(0x8 | unsigned(count - 4), 4), w.Put(unsigned(code), 4);
            count = 0;
        } else if (count == 8) {
            Encode4(w, 4, code);
            count -= 4;
        } else if (count <= 24) {
            w.Put(0, 4), w.Put(0xE, 4), w.Put(unsigned(count - 9), 4), w.Put(unsigned(code), 4);
            count = 0;
        } else {
            const int n = count > 280 ? 280 : count;
            w.Put(0, 4), w.Put(0xF, 4), w.Put(unsigned(n - 25), 8), w.Put(unsigned(code), 4);
            count -= n;
        }
    }
}

void Encode8(BitWriter& w, int count, int code) {
    while (count > 0) {
        if (code != 0 && count < 3) {
            w.Put(unsigned(code), 8);
            --count;
        } else {
            const int n = count > 127 ? 127 : count;
            w.Put(0, 8);
            if (code == 0) {
                w.Put(unsigned(n), 8);
            } else {
                w.Put(0x80 | unsigned(n), 8), w.Put(unsigned(code), 8);
            }
            count -= n;
        }
    }
}

}  // namespace

Bytes Segment(int type, int pageId, const Bytes& body) {
    Bytes s{0x0F, uint8_t(type)};
    Put16(s, pageId);
    Put16(s, int(body.size()));
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

Bytes PageComposition(int pageId, int timeout, int version, int state,
                      const std::vector<RegionRef>& regions) {
    Bytes b{uint8_t(timeout), uint8_t((version << 4) | ((state & 3) << 2) | 0x03)};
    for (const RegionRef& r : regions) {
        b.push_back(uint8_t(r.regionId));
        b.push_back(0xFF);
        Put16(b, r.x);
        Put16(b, r.y);
    }
    return Segment(0x10, pageId, b);
}

Bytes RegionComposition(int pageId, const Region& r) {
    Bytes b{uint8_t(r.regionId), uint8_t((r.version << 4) | (r.fill ? 0x08 : 0) | 0x07)};
    Put16(b, r.width);
    Put16(b, r.height);
    b.push_back(uint8_t((r.depth << 5) | ((r.depth & 7) << 2) | 0x03));
    b.push_back(uint8_t(r.clutId));
    b.push_back(uint8_t(r.code8));
    b.push_back(uint8_t((r.code4 << 4) | ((r.code2 & 3) << 2) | 0x03));
    for (const ObjectRef& o : r.objects) {
        Put16(b, o.objectId);
        Put16(b, (o.type << 14) | (0 << 12) | (o.x & 0x0FFF));
        Put16(b, 0xF000 | (o.y & 0x0FFF));
        if (o.type == 1 || o.type == 2) {
            b.push_back(uint8_t(o.foreground));
            b.push_back(uint8_t(o.background));
        }
    }
    return Segment(0x11, pageId, b);
}

Bytes ClutDefinition(int pageId, int clutId, int version, const std::vector<ClutEntry>& entries) {
    Bytes b{uint8_t(clutId), uint8_t((version << 4) | 0x0F)};
    for (const ClutEntry& e : entries) {
        b.push_back(uint8_t(e.entryId));
        b.push_back(uint8_t((e.flags & 0xE0) | 0x1E | (e.fullRange ? 1 : 0)));
        if (e.fullRange) {
            b.insert(b.end(), {uint8_t(e.y), uint8_t(e.cr), uint8_t(e.cb), uint8_t(e.t)});
        } else {
            Put16(b, ((e.y >> 2) << 10) | ((e.cr >> 4) << 6) | ((e.cb >> 4) << 2) | (e.t >> 6));
        }
    }
    return Segment(0x12, pageId, b);
}

Bytes ObjectData(int pageId, int objectId, const Bytes& topField, const Bytes& bottomField,
                 int codingMethod, int version) {
    Bytes b;
    Put16(b, objectId);
    b.push_back(uint8_t((version << 4) | ((codingMethod & 3) << 2) | 0x01));
    Put16(b, int(topField.size()));
    Put16(b, int(bottomField.size()));
    b.insert(b.end(), topField.begin(), topField.end());
    b.insert(b.end(), bottomField.begin(), bottomField.end());
    return Segment(0x13, pageId, b);
}

Bytes EndOfDisplaySet(int pageId) { return Segment(0x80, pageId, {}); }

Bytes DisplayDefinition(int pageId, int width, int height, int windowX, int windowY, int windowRight,
                        int windowBottom) {
    Bytes b{uint8_t(windowX >= 0 ? 0x08 : 0x00)};
    Put16(b, width - 1);
    Put16(b, height - 1);
    if (windowX >= 0)
        for (int v : {windowX, windowRight, windowY, windowBottom}) Put16(b, v);
    return Segment(0x14, pageId, b);
}

PixelData& PixelData::String2(const std::vector<Run>& runs) {
    BitWriter w;
    for (const Run& r : runs) Encode2(w, r.count, r.code);
    w.Put(0, 2), w.Put(0, 2), w.Put(0, 2);  // end_of_string_signal
    data_.push_back(0x10);
    const Bytes& b = w.Bytes_();
    data_.insert(data_.end(), b.begin(), b.end());
    return *this;
}

PixelData& PixelData::String4(const std::vector<Run>& runs) {
    BitWriter w;
    for (const Run& r : runs) Encode4(w, r.count, r.code);
    w.Put(0, 4), w.Put(0, 4);  // end_of_string_signal
    data_.push_back(0x11);
    const Bytes& b = w.Bytes_();
    data_.insert(data_.end(), b.begin(), b.end());
    return *this;
}

PixelData& PixelData::String8(const std::vector<Run>& runs) {
    BitWriter w;
    for (const Run& r : runs) Encode8(w, r.count, r.code);
    w.Put(0, 8), w.Put(0, 8);  // end_of_string_signal
    data_.push_back(0x12);
    const Bytes& b = w.Bytes_();
    data_.insert(data_.end(), b.begin(), b.end());
    return *this;
}

PixelData& PixelData::Map2To4(int a, int b, int c, int d) {
    data_.insert(data_.end(), {0x20, uint8_t((a << 4) | b), uint8_t((c << 4) | d)});
    return *this;
}

PixelData& PixelData::Map2To8(const Bytes& four) {
    data_.push_back(0x21);
    data_.insert(data_.end(), four.begin(), four.end());
    return *this;
}

PixelData& PixelData::Map4To8(const Bytes& sixteen) {
    data_.push_back(0x22);
    data_.insert(data_.end(), sixteen.begin(), sixteen.end());
    return *this;
}

PixelData& PixelData::EndOfLine() {
    data_.push_back(0xF0);
    return *this;
}

PixelData& PixelData::Raw(const Bytes& bytes) {
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes DisplaySetPes(const Bytes& segments, bool endMarker, int64_t pts) {
    Bytes payload{0x20, 0x00};
    payload.insert(payload.end(), segments.begin(), segments.end());
    if (endMarker) payload.push_back(0xFF);
    return ts::Pes(0xBD, payload, pts);
}

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace dvbsub
