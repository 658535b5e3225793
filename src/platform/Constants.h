// Every number that names something on the wire or in the kernel, in one
// place: table ids, descriptor tags, stream ids, segment types, data unit
// ids and ioctl request numbers. Subsystems add theirs here, not locally.
#pragma once

#include <cstdint>

namespace ids {

// ISO/IEC 13818-1 §2.4.4: table ids and fixed PIDs.
constexpr uint8_t kTablePAT = 0x00;
constexpr uint8_t kTablePMT = 0x02;
constexpr int kPidPAT = 0x0000;
// EN 300 468 §5.1.3 and §5.2.3: the SDT's PID and its table for the
// actual transport stream.
constexpr int kPidSDT = 0x0011;
constexpr uint8_t kTableSDTActual = 0x42;
constexpr int kPidNull = 0x1FFF;

// Linux DVB section filters (linux/dvb/dmx.h): filter byte 0 is compared
// with table_id, bytes 1 on with the section from byte 3 on, so 1 and 2
// hold table_id_extension (a PMT's program_number).
constexpr int kFilterTableId = 0;
constexpr int kFilterExtensionHigh = 1;
constexpr int kFilterExtensionLow = 2;
constexpr uint8_t kTsSyncByte = 0x47;
constexpr int kTsPacketSize = 188;

// ISO/IEC 13818-1 §2.4.3.7: PES stream ids.
constexpr uint8_t kStreamPrivate1 = 0xBD;
constexpr uint8_t kStreamPadding = 0xBE;
constexpr uint8_t kStreamPrivate2 = 0xBF;

// ISO/IEC 13818-1 Table 2-34 stream types used when wrapping streams.
constexpr uint8_t kStreamTypePrivatePES = 0x06;
constexpr uint8_t kStreamTypeMpeg2Video = 0x02;

// ISO/IEC 13818-1 §2.6 and EN 300 468 §6.2: descriptor tags.
constexpr uint8_t kDescISO639Language = 0x0A;
constexpr uint8_t kDescVBITeletext = 0x46;
constexpr uint8_t kDescService = 0x48;
constexpr uint8_t kDescTeletext = 0x56;
constexpr uint8_t kDescSubtitling = 0x59;

// EN 300 468 Table 94: teletext_type values.
constexpr int kTeletextTypeInitialPage = 1;
constexpr int kTeletextTypeSubtitle = 2;
constexpr int kTeletextTypeHearingImpaired = 5;

// EN 300 468 Table 26: subtitling_type ranges, normal and for the hard of
// hearing.
constexpr int kSubtitlingTypeNormalFirst = 0x10;
constexpr int kSubtitlingTypeNormalLast = 0x16;
constexpr int kSubtitlingTypeHardOfHearingFirst = 0x20;
constexpr int kSubtitlingTypeHardOfHearingLast = 0x26;

// EN 300 468 Annex A.2: a first byte below 0x20 selects the character
// table; 0x15 is UTF-8, and bytes 0x80 to 0x9F are control codes.
constexpr uint8_t kTextTableUtf8 = 0x15;
constexpr uint8_t kTextTableThreeBytes = 0x10;
constexpr uint8_t kTextTableEncodingType = 0x1F;
constexpr uint8_t kTextTableFirst = 0x20;

// EN 300 743 §7.2: PES data identifier and segment types.
constexpr uint8_t kDvbSubDataIdentifier = 0x20;
constexpr uint8_t kDvbSubStreamId = 0x00;
constexpr uint8_t kDvbSubSyncByte = 0x0F;
constexpr uint8_t kSegPageComposition = 0x10;
constexpr uint8_t kSegRegionComposition = 0x11;
constexpr uint8_t kSegCLUTDefinition = 0x12;
constexpr uint8_t kSegObjectData = 0x13;
constexpr uint8_t kSegDisplayDefinition = 0x14;
constexpr uint8_t kSegEndOfDisplaySet = 0x80;
constexpr uint8_t kSegStuffing = 0xFF;
constexpr uint8_t kDvbSubEndOfPES = 0xFF;

// EN 300 743 §7.2.5: pixel-data sub-block types.
constexpr uint8_t kPixel2BitString = 0x10;
constexpr uint8_t kPixel4BitString = 0x11;
constexpr uint8_t kPixel8BitString = 0x12;
constexpr uint8_t kMap2To4 = 0x20;
constexpr uint8_t kMap2To8 = 0x21;
constexpr uint8_t kMap4To8 = 0x22;
constexpr uint8_t kEndOfObjectLine = 0xF0;

// EN 300 472 §4.3: Teletext PES data identifiers and data unit ids.
constexpr uint8_t kEbuDataIdentifierFirst = 0x10;
constexpr uint8_t kEbuDataIdentifierLast = 0x1F;
constexpr uint8_t kDataUnitTeletextNonSubtitle = 0x02;
constexpr uint8_t kDataUnitTeletextSubtitle = 0x03;
constexpr uint8_t kDataUnitStuffing = 0xFF;
constexpr int kEbuDataUnitStride = 46;
constexpr uint8_t kEbuFramingCode = 0xE4;
constexpr uint8_t kEbuDataUnitLength = 0x2C;

// EN 300 706 §12.2: the Teletext spacing attributes that mark subtitle text.
constexpr uint8_t kTxtAlphaWhite = 0x07;  // alpha colour codes 0x00-0x07, white the last
constexpr uint8_t kTxtEndBox = 0x0A;
constexpr uint8_t kTxtStartBox = 0x0B;
constexpr uint8_t kTxtDoubleHeight = 0x0D;

// Box framebuffer driver request that brings drawn memory onto the screen.
// It takes no argument; a result of 0 or more is success.
constexpr unsigned long kFBIO_BLIT = 0x22;

}  // namespace ids
