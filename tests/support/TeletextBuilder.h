// Builds Teletext test streams the way a broadcaster's inserter does:
// EN 300 706 packets (Hamming 8/4 addresses and header fields, odd-parity
// characters), EN 300 472 EBU data units (bytes bit-reversed for
// transmission) and Teletext PES packets with the fixed 45-byte header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ttx {

using Bytes = std::vector<uint8_t>;

// Teletext control characters used in subtitle rows (EN 300 706 §12.2).
constexpr char kAlphaWhite = 0x07;
constexpr char kEndBox = 0x0A;
constexpr char kStartBox = 0x0B;
constexpr char kDoubleHeight = 0x0D;

struct Header {
    int magazine = 8;      // 1..8; 8 is sent as magazine bits 000
    int page = 0x88;       // tens and units as two hex digits
    bool erase = true;     // C4
    bool subtitle = true;  // C6
    bool serial = true;    // C11
    int nationalOption = 0;  // C12..C14
    std::string text;      // the 32 header characters, blank-padded
};

// One 42-byte Teletext packet in logical bit order (first transmitted bit
// as bit 0): two address bytes and 40 data bytes.
Bytes HeaderPacket(const Header& header);
// A display row 1..25 with up to 40 characters (blank-padded), each with
// odd parity.
Bytes RowPacket(int magazine, int row, const std::string& text);
// Any packet number with 40 raw data bytes (no parity added).
Bytes RawPacket(int magazine, int packetNumber, const Bytes& data);
// One X/26 triplet (EN 300 706 §12.3.1): address 0-39 a column, 40-63 a
// row (40 is row 24); mode 0-31; data 0-127.
struct Triplet {
    int address, mode, data;
};
Triplet SetRow(int row);                          // set active position: row, column 0
Triplet G2Char(int column, int code);             // mode 0x0F
Triplet Accented(int column, int mark, char letter);  // mode 0x10 + mark
Triplet Termination();                            // address 63, mode 0x1F
// An X/26 packet with its designation code (0-15) and up to 13 triplets,
// each Hamming 24/18 coded; missing triplets are termination markers.
Bytes EnhancementPacket(int magazine, int designation, const std::vector<Triplet>& triplets);
// The first data byte of triplet `index` (0-12) in an X/26 packet.
constexpr int TripletByte(int index) { return 3 + 3 * index; }

// The row text of a subtitle line: double height, two start boxes, the
// text, two end boxes.
std::string SubtitleRow(const std::string& text);

// One EBU data unit (46 bytes): data_unit_id, data_unit_length, field
// parity and line offset, framing code, then the packet bit-reversed.
Bytes DataUnit(const Bytes& packet, uint8_t dataUnitId = 0x03, uint8_t length = 0x2C);
// A Teletext PES packet: 45-byte header (PTS when pts >= 0), data
// identifier 0x10, the units, and stuffing units up to a whole number of
// 184-byte blocks when `stuff` is set.
Bytes Pes(const std::vector<Bytes>& units, int64_t pts = -1, bool stuff = true);

// Flips bit `bit` (0..7) of byte `index` of a packet (before transmission).
Bytes FlipBit(Bytes packet, int index, int bit);

}  // namespace ttx
