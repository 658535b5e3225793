#include "support/ZvbiReference.h"

#include "platform/Utf8.h"

#if __has_include(<libzvbi.h>)
#include <libzvbi.h>
#define TEKO_ZVBI_HEADER 1
#endif

namespace ttxref {

#ifdef TEKO_ZVBI_HEADER
namespace {

struct State {
    vbi_decoder* decoder;
    int page;
    size_t pes = 0;
    double time = 0;
    std::vector<Page> pages;
};

// The boxed cells of each double-height row, one text per row.
void OnPage(vbi_event* event, void* user) {
    auto* state = static_cast<State*>(user);
    if (event->ev.ttx_page.pgno != state->page) return;
    vbi_page pg;
    if (!vbi_fetch_vt_page(state->decoder, &pg, state->page, VBI_ANY_SUBNO, VBI_WST_LEVEL_2p5, 25, 0)) return;
    Page page{state->pes, {}};
    for (int row = 1; row < pg.rows && row <= 23; ++row) {
        const vbi_char* cells = &pg.text[row * pg.columns];
        bool doubleHeight = false;
        for (int c = 0; c < pg.columns; ++c)
            doubleHeight |= cells[c].size == VBI_DOUBLE_HEIGHT || cells[c].size == VBI_DOUBLE_SIZE;
        if (!doubleHeight) continue;
        std::string text;
        std::vector<int> colours;
        for (int c = 0; c < pg.columns; ++c) {
            if (cells[c].opacity == VBI_TRANSPARENT_SPACE) {
                text += ' ';
                continue;
            }
            utf8::Append(text, cells[c].unicode);
            const int colour = cells[c].foreground;
            if (cells[c].unicode != ' ' && (colours.empty() || colours.back() != colour)) colours.push_back(colour);
        }
        text = Normalise(text);
        if (!text.empty()) page.lines.push_back({row, text, colours});
    }
    vbi_unref_page(&pg);
    if (!page.lines.empty()) state->pages.push_back(page);
}

vbi_bool OnSliced(vbi_dvb_demux*, void* user, const vbi_sliced* sliced, unsigned int count, int64_t) {
    auto* state = static_cast<State*>(user);
    state->time += 0.04;
    vbi_decode(state->decoder, const_cast<vbi_sliced*>(sliced), int(count), state->time);
    return TRUE;
}

}  // namespace

bool Available() { return true; }

std::vector<Page> ZvbiPages(const std::vector<std::vector<uint8_t>>& pes, int pageNumber, int region) {
    State state{vbi_decoder_new(), pageNumber, 0, 0, {}};
    if (region >= 0) vbi_teletext_set_default_region(state.decoder, region);
    vbi_event_handler_register(state.decoder, VBI_EVENT_TTX_PAGE, OnPage, &state);
    vbi_dvb_demux* demux = vbi_dvb_pes_demux_new(OnSliced, &state);
    for (state.pes = 0; state.pes < pes.size(); ++state.pes)
        vbi_dvb_demux_feed(demux, pes[state.pes].data(), unsigned(pes[state.pes].size()));
    vbi_dvb_demux_delete(demux);
    vbi_decoder_delete(state.decoder);
    return state.pages;
}
#else
bool Available() { return false; }
std::vector<Page> ZvbiPages(const std::vector<std::vector<uint8_t>>&, int, int) { return {}; }
#endif

}  // namespace ttxref
