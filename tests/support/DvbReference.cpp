#include "support/DvbReference.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdlib>

namespace dvbref {

struct FfmpegDecoder::Context {
    AVCodecContext* codec = nullptr;
};

FfmpegDecoder::FfmpegDecoder() : ctx_(new Context) {
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVB_SUBTITLE);
    if (!codec) return;
    ctx_->codec = avcodec_alloc_context3(codec);
    if (ctx_->codec && avcodec_open2(ctx_->codec, codec, nullptr) < 0) avcodec_free_context(&ctx_->codec);
}

FfmpegDecoder::~FfmpegDecoder() { avcodec_free_context(&ctx_->codec); }

bool FfmpegDecoder::Ok() const { return ctx_->codec != nullptr; }

bool FfmpegDecoder::Decode(const uint8_t* pes, size_t size, Screen& screen) {
    // Segments start after the PES header and the data_identifier and
    // subtitle_stream_id bytes (EN 300 743 §6.1).
    const size_t start = size > 9 ? 9 + size_t(pes[8]) + 2 : size;
    if (!Ok() || start >= size) return false;
    std::vector<uint8_t> data(pes + start, pes + size);
    data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    AVPacket* packet = av_packet_alloc();
    packet->data = data.data();
    packet->size = int(size - start);
    AVSubtitle sub;
    int got = 0;
    avcodec_decode_subtitle2(ctx_->codec, &sub, &got, packet);
    av_packet_free(&packet);
    if (!got) return false;
    screen.assign(size_t(kWidth) * kHeight, 0);
    for (unsigned k = 0; k < sub.num_rects; ++k) {
        const AVSubtitleRect* r = sub.rects[k];
        if (r->type != SUBTITLE_BITMAP) continue;
        const uint32_t* palette = reinterpret_cast<const uint32_t*>(r->data[1]);
        for (int j = 0; j < r->h; ++j)
            for (int i = 0; i < r->w; ++i) {
                const int x = r->x + i, y = r->y + j;
                if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) continue;
                screen[size_t(y) * kWidth + x] = palette[r->data[0][j * r->linesize[0] + i]];
            }
    }
    avsubtitle_free(&sub);
    return true;
}

int Ink(const Screen& screen, int bitsPerPixel) {
    int ink = 0;
    if (bitsPerPixel == 32) {
        for (uint32_t p : screen) ink += (p >> 24) != 0;
    } else {
        // Index 0 and 0xF0 are transparent on the palette screen.
        for (uint32_t p : screen) ink += p != 0 && p != 0xF0;
    }
    return ink;
}

Screen Visible(const Screen& screen) {
    Screen visible(screen.size());
    for (size_t at = 0; at < screen.size(); ++at) visible[at] = (screen[at] >> 24) ? 0xFF000000u : 0;
    return visible;
}

std::string Compare(const Screen& ours, const Screen& reference, int bitsPerPixel, int* maxColourDiff) {
    if (ours.size() != reference.size()) return "screen sizes differ";
    for (size_t at = 0; at < ours.size(); ++at) {
        const uint32_t o = ours[at], r = reference[at];
        if (o == r) continue;
        std::string what;
        if (bitsPerPixel != 32) {
            // Region pixels FFmpeg shows transparent may hold a low CLUT index.
            if ((r >> 24) != 0 && o == 0) what = "missing";
            if ((r >> 24) == 0 && o != 0 && o != 0xF0 && o >= 16) what = "extra";
        } else if ((o >> 24) != (r >> 24)) {
            what = "alpha " + std::to_string(o >> 24) + " != " + std::to_string(r >> 24);
        } else if (o >> 24) {
            for (int shift = 0; shift < 24; shift += 8) {
                const int d = std::abs(int((o >> shift) & 0xFF) - int((r >> shift) & 0xFF));
                if (maxColourDiff) *maxColourDiff = std::max(*maxColourDiff, d);
                if (d > kColourTolerance) what = "colour differs by " + std::to_string(d);
            }
        }
        if (!what.empty()) return std::to_string(at % kWidth) + "," + std::to_string(at / kWidth) + ": " + what;
    }
    return std::string();
}

}  // namespace dvbref
