// Reads fixed-width groups of bits (2, 4 or 8), most significant first, from
// a byte buffer of known size. Past the end it returns 0 and notes the
// overrun instead of reading on: a run-length code string read past its end
// therefore meets its end-of-string code (all codes of zeros) and stops.
#pragma once

struct bitstream {
    const unsigned char* data;  // the current byte
    int bitsLeft;               // unread bits of the current byte
    int bytesUsed;              // bytes completely consumed
    int size;                   // bytes that may be read from the start
    int overrun;                // 1 once a read went past `size`
};

void bitstream_init(bitstream* bs, const unsigned char* data, int size);

// A read of W bits (known when compiled): the pixel decoders' inner loops,
// on a bitstream of their own that the compiler keeps in registers.
template <int W>
inline unsigned bitstream_get_fixed(bitstream* bs) {
    static_assert(W == 2 || W == 4 || W == 8, "widths that divide a byte");
    if (bs->bytesUsed >= bs->size) {
        bs->overrun = 1;
        return 0;
    }
    bs->bitsLeft -= W;
    const unsigned value = (unsigned(*bs->data) >> bs->bitsLeft) & ((1u << W) - 1);
    if (bs->bitsLeft == 0) {
        bs->data++;
        bs->bitsLeft = 8;
        bs->bytesUsed++;
    }
    return value;
}
