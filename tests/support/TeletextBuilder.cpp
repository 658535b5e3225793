#include "TeletextBuilder.h"

#include "teletext/TeletextEnhancement.h"
#include "teletext/TeletextTables.h"

namespace ttx {

namespace {

uint8_t Ham(unsigned v) { return teletext::HammingEncode84(v); }

uint8_t WithOddParity(uint8_t c) {
    c &= 0x7F;
    int ones = 0;
    for (int i = 0; i < 7; ++i) ones += (c >> i) & 1;
    return (ones & 1) ? c : uint8_t(c | 0x80);
}

Bytes Address(int magazine, int packetNumber) {
    unsigned m = unsigned(magazine) & 7;  // magazine 8 is sent as 0
    return {Ham(m | (unsigned(packetNumber) & 1) << 3), Ham(unsigned(packetNumber) >> 1)};
}

void AppendText(Bytes& out, const std::string& text, size_t count) {
    for (size_t k = 0; k < count; ++k) out.push_back(WithOddParity(k < text.size() ? uint8_t(text[k]) : ' '));
}

uint8_t Reverse(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1 << i)) r |= uint8_t(1 << (7 - i));
    return r;
}

}  // namespace

// EN 300 706 §9.3.1: page units, page tens, subcode S1..S4 with the control
// bits C4 (in S2's byte), C5 and C6 (in S4's byte), then C7..C10 and
// C11..C14 (C11 magazine serial, C12..C14 national option).
Bytes HeaderPacket(const Header& h) {
    Bytes p = Address(h.magazine, 0);
    p.push_back(Ham(unsigned(h.page) & 0xF));
    p.push_back(Ham((unsigned(h.page) >> 4) & 0xF));
    p.push_back(Ham(0));                    // S1
    p.push_back(Ham(h.erase ? 0x8 : 0));    // S2, C4
    p.push_back(Ham(0));                    // S3
    p.push_back(Ham(h.subtitle ? 0x8 : 0)); // S4, C5, C6
    p.push_back(Ham(0));                    // C7..C10
    p.push_back(Ham((h.serial ? 1u : 0u) | (unsigned(h.nationalOption) & 7) << 1));
    AppendText(p, h.text, 32);
    return p;
}

Bytes RowPacket(int magazine, int row, const std::string& text) {
    Bytes p = Address(magazine, row);
    AppendText(p, text, 40);
    return p;
}

Bytes RawPacket(int magazine, int packetNumber, const Bytes& data) {
    Bytes p = Address(magazine, packetNumber);
    for (size_t k = 0; k < 40; ++k) p.push_back(k < data.size() ? data[k] : 0);
    return p;
}

Triplet SetRow(int row) { return {row == 24 ? 40 : 40 + row, 0x04, 0}; }
Triplet G2Char(int column, int code) { return {column, 0x0F, code}; }
Triplet Accented(int column, int mark, char letter) { return {column, 0x10 + mark, letter}; }
Triplet Termination() { return {63, 0x1F, 0}; }

Bytes EnhancementPacket(int magazine, int designation, const std::vector<Triplet>& triplets) {
    Bytes p = Address(magazine, 26);
    p.push_back(Ham(unsigned(designation)));
    for (size_t k = 0; k < 13; ++k) {
        Triplet t = k < triplets.size() ? triplets[k] : Termination();
        uint32_t w = teletext::HammingEncode2418(uint32_t(t.address & 0x3F) | uint32_t(t.mode & 0x1F) << 6 |
                                                 uint32_t(t.data & 0x7F) << 11);
        p.push_back(uint8_t(w));
        p.push_back(uint8_t(w >> 8));
        p.push_back(uint8_t(w >> 16));
    }
    return p;
}

std::string SubtitleRow(const std::string& text) {
    return std::string{kDoubleHeight, kStartBox, kStartBox} + text + std::string{kEndBox, kEndBox};
}

Bytes DataUnit(const Bytes& packet, uint8_t dataUnitId, uint8_t length) {
    Bytes u = {dataUnitId, length, 0xC0 | 0x20 | 0x07, 0xE4};  // first field, line 7
    for (size_t k = 0; k < 42; ++k) u.push_back(Reverse(k < packet.size() ? packet[k] : 0));
    return u;
}

// EN 300 472 §4.2: PES_header_data_length is 0x24, so the header takes 45
// bytes; the PES packet is a whole number of 184-byte blocks.
Bytes Pes(const std::vector<Bytes>& units, int64_t pts, bool stuff) {
    Bytes payload = {0x10};  // data_identifier: EBU data
    for (const Bytes& u : units) payload.insert(payload.end(), u.begin(), u.end());
    if (stuff)
        while ((45 + payload.size()) % 184 != 0) {
            Bytes filler(46, 0xFF);
            filler[1] = 0x2C;
            size_t need = 184 - (45 + payload.size()) % 184;
            filler.resize(need < 46 ? need : 46);
            payload.insert(payload.end(), filler.begin(), filler.end());
        }
    Bytes pes = {0x00, 0x00, 0x01, 0xBD, 0, 0, 0x84, uint8_t(pts >= 0 ? 0x80 : 0x00), 0x24};
    if (pts >= 0) {
        uint64_t v = uint64_t(pts) & 0x1FFFFFFFFULL;
        pes.push_back(uint8_t(0x21 | ((v >> 29) & 0x0E)));
        pes.push_back(uint8_t(v >> 22));
        pes.push_back(uint8_t(0x01 | ((v >> 14) & 0xFE)));
        pes.push_back(uint8_t(v >> 7));
        pes.push_back(uint8_t(0x01 | ((v << 1) & 0xFE)));
    }
    while (pes.size() < 45) pes.push_back(0xFF);
    pes.insert(pes.end(), payload.begin(), payload.end());
    size_t length = pes.size() - 6;
    pes[4] = uint8_t(length >> 8);
    pes[5] = uint8_t(length);
    return pes;
}

Bytes FlipBit(Bytes packet, int index, int bit) {
    packet.at(size_t(index)) ^= uint8_t(1 << bit);
    return packet;
}

}  // namespace ttx
