#include "support/DvbReference.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "support/DvbSubBuilder.h"

namespace dvbref {

struct FfmpegDecoder::Context {
    AVCodecContext* codec = nullptr;
};

FfmpegDecoder::FfmpegDecoder(const Options& options) : ctx_(new Context), options_(options) {
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVB_SUBTITLE);
    if (!codec) return;
    ctx_->codec = avcodec_alloc_context3(codec);
    if (!ctx_->codec) return;
    AVDictionary* dict = nullptr;
    if (options.compositionPage >= 0) {
        // Sub-stream 0 of the extradata: composition and ancillary page ids.
        uint8_t* extra = static_cast<uint8_t*>(av_mallocz(4 + AV_INPUT_BUFFER_PADDING_SIZE));
        extra[0] = uint8_t(options.compositionPage >> 8), extra[1] = uint8_t(options.compositionPage);
        extra[2] = uint8_t(options.ancillaryPage >> 8), extra[3] = uint8_t(options.ancillaryPage);
        ctx_->codec->extradata = extra;
        ctx_->codec->extradata_size = 4;
        av_dict_set(&dict, "dvb_substream", "0", 0);
    }
    if (avcodec_open2(ctx_->codec, codec, &dict) < 0) avcodec_free_context(&ctx_->codec);
    av_dict_free(&dict);
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
    const int w = options_.displayWidth, h = options_.displayHeight;
    Screen picture(size_t(w) * h, 0);
    for (unsigned k = 0; k < sub.num_rects; ++k) {
        const AVSubtitleRect* r = sub.rects[k];
        if (r->type != SUBTITLE_BITMAP) continue;
        const uint32_t* palette = reinterpret_cast<const uint32_t*>(r->data[1]);
        for (int j = 0; j < r->h; ++j)
            for (int i = 0; i < r->w; ++i) {
                const int x = r->x + i, y = r->y + j;
                if (x < 0 || y < 0 || x >= w || y >= h) continue;
                picture[size_t(y) * w + x] = palette[r->data[0][j * r->linesize[0] + i]];
            }
    }
    avsubtitle_free(&sub);
    const int sw = options_.screenWidth, sh = options_.screenHeight;
    screen = w == sw && h == sh ? picture : ScaleByArea(picture, w, h, sw, sh);
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

std::string Compare(const Screen& ours, const Screen& reference, int bitsPerPixel, int* maxColourDiff, int width) {
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
        if (!what.empty()) return std::to_string(at % width) + "," + std::to_string(at / width) + ": " + what;
    }
    return std::string();
}

Screen ScaleByArea(const Screen& picture, int width, int height, int screenWidth, int screenHeight) {
    Screen screen(size_t(screenWidth) * screenHeight, 0);
    const double fx = double(width) / screenWidth, fy = double(height) / screenHeight;
    for (int sy = 0; sy < screenHeight; ++sy)
        for (int sx = 0; sx < screenWidth; ++sx) {
            const double x0 = sx * fx, x1 = (sx + 1) * fx, y0 = sy * fy, y1 = (sy + 1) * fy;
            double a = 0, c[3] = {0, 0, 0};
            for (int y = int(y0); y < height && y < y1; ++y)
                for (int x = int(x0); x < width && x < x1; ++x) {
                    const double wgt = (std::min<double>(x + 1, x1) - std::max<double>(x, x0)) *
                                       (std::min<double>(y + 1, y1) - std::max<double>(y, y0));
                    const uint32_t p = picture[size_t(y) * width + x];
                    const double pa = (p >> 24) * wgt;
                    a += pa;
                    for (int k = 0; k < 3; ++k) c[k] += pa * ((p >> (16 - 8 * k)) & 0xFF);
                }
            const long alpha = std::lround(a / (fx * fy));
            if (alpha <= 0) continue;
            uint32_t word = uint32_t(std::min(alpha, 255L)) << 24;
            for (int k = 0; k < 3; ++k) word |= uint32_t(std::lround(c[k] / a)) << (16 - 8 * k);
            screen[size_t(sy) * screenWidth + sx] = word;
        }
    return screen;
}

namespace {

bool Opaque(uint32_t p) { return (p >> 24) >= 128; }
bool Light(uint32_t p) {
    return Opaque(p) && 0.299 * ((p >> 16) & 0xFF) + 0.587 * ((p >> 8) & 0xFF) + 0.114 * (p & 0xFF) >= 128;
}

template <typename Pred>
double IoU(const Screen& a, const Screen& b, Pred in) {
    long both = 0, either = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        both += in(a[i]) && in(b[i]);
        either += in(a[i]) || in(b[i]);
    }
    return either ? double(both) / double(either) : 1.0;
}

}  // namespace

double OpaqueIoU(const Screen& a, const Screen& b) { return IoU(a, b, Opaque); }
double LightIoU(const Screen& a, const Screen& b) { return IoU(a, b, Light); }

std::vector<uint8_t> EncodeWithFfmpeg(const std::vector<Bitmap>& bitmaps, int displayWidth, int displayHeight) {
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVB_SUBTITLE);
    if (!codec) return {};
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return {};
    c->width = displayWidth;
    c->height = displayHeight;
    c->time_base = AVRational{1, 90000};
    std::vector<uint8_t> out;
    if (avcodec_open2(c, codec, nullptr) >= 0) {
        std::vector<AVSubtitleRect> rects(bitmaps.size());
        std::vector<AVSubtitleRect*> pointers;
        for (size_t k = 0; k < bitmaps.size(); ++k) {
            const Bitmap& b = bitmaps[k];
            AVSubtitleRect& r = rects[k];
            r = AVSubtitleRect();
            r.type = SUBTITLE_BITMAP;
            r.x = b.x, r.y = b.y, r.w = b.width, r.h = b.height;
            r.nb_colors = int(b.palette.size());
            r.data[0] = const_cast<uint8_t*>(b.indices.data());
            r.linesize[0] = b.width;
            r.data[1] = reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(b.palette.data()));
            pointers.push_back(&r);
        }
        AVSubtitle sub = AVSubtitle();
        sub.num_rects = unsigned(pointers.size());
        sub.rects = pointers.data();
        sub.end_display_time = 5000;
        std::vector<uint8_t> buffer(1 << 20);
        const int size = avcodec_encode_subtitle(c, buffer.data(), int(buffer.size()), &sub);
        // The encoder's output starts at the first sync byte.
        if (size > 0) out = dvbsub::DisplaySetPes(dvbsub::Bytes(buffer.begin(), buffer.begin() + size));
    }
    avcodec_free_context(&c);
    return out;
}

}  // namespace dvbref
