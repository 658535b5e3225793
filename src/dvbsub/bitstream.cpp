#include "dvbsub/bitstream.h"

void bitstream_init(bitstream* bs, const unsigned char* data, int size) {
    bs->data = data;
    bs->bitsLeft = 8;
    bs->bytesUsed = 0;
    bs->size = size > 0 ? size : 0;
    bs->overrun = 0;
}
