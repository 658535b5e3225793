#include "dvbsub/bitstream.h"

void bitstream_init(bitstream* bs, const unsigned char* data, int width, int size) {
    bs->data = data;
    // Only widths that divide a byte keep the reads aligned.
    bs->width = (width == 1 || width == 2 || width == 4) ? width : 8;
    bs->bitsLeft = 8;
    bs->bytesUsed = 0;
    bs->size = size > 0 ? size : 0;
    bs->overrun = 0;
}

unsigned bitstream_get(bitstream* bs) {
    if (bs->bytesUsed >= bs->size) {
        bs->overrun = 1;
        return 0;
    }
    bs->bitsLeft -= bs->width;
    unsigned value = (unsigned(*bs->data) >> bs->bitsLeft) & ((1u << bs->width) - 1);
    if (bs->bitsLeft <= 0) {
        // Widths divide 8, so a byte is used up exactly here.
        bs->data++;
        bs->bitsLeft = 8;
        bs->bytesUsed++;
    }
    return value;
}
