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
