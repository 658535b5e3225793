// The PES packet around the segments (EN 300 743 §6.1), and the choice of
// the pages to decode: only the composition page that the programme tables
// name and its ancillary page (EN 300 743 §3.1) are decoded, so that other
// languages sharing the PID never show.
#include "platform/ByteReader.h"
#include "dvbsub/subtitle.h"
#include "platform/Constants.h"
#include "platform/Log.h"

namespace {

// A PMT whose composition page id is wrong must not leave the screen
// empty: when the chosen page never shows up but exactly one other page
// does, that page is decoded from its first page composition after one of
// its display sets has been seen (by then a second language would have
// shown itself).
bool adopt_other_page(subtitle_ctx* ctx, int type, int pageId) {
    if (ctx->otherPageId == -1) ctx->otherPageId = pageId;
    else if (ctx->otherPageId != pageId) ctx->otherPageId = -2;
    if (ctx->otherPageId != pageId) return false;
    if (type == ids::kSegEndOfDisplaySet) ++ctx->otherDisplaySets;
    if (type != ids::kSegPageComposition || ctx->otherDisplaySets < 1) return false;
    if (!ctx->fallbackLogged)
        eDebug("Page %d is not in the stream, page %d is shown instead.\n", ctx->compositionPageId, pageId);
    ctx->fallbackLogged = true;
    ctx->compositionPageId = pageId;
    ctx->compositionSeen = true;
    return true;
}

// A packet damaged on the way (bytes lost, so that its segments no longer
// line up) loses its end of display set. When it brought a whole display
// set (page and region composition, CLUT and object data) the set is
// shown as received rather than not at all; the next display set or the
// time-out replaces it as usual.
void show_broken_display_set(subtitle_ctx* ctx) {
    const int whole = kSeenPage | kSeenRegion | kSeenClut | kSeenObject;
    if ((ctx->segmentsSeen & whole) != whole || (ctx->segmentsSeen & kSeenEnd)) return;
    eWarning("ERROR: Display set broken off, shown as received.\n");
    subtitle_show(ctx);
}

}  // namespace

int subtitle_route_page(subtitle_ctx* ctx, int type, int pageId) {
    if (ctx->compositionPageId < 0) return pageId;  // no choice made: every page
    if (pageId == ctx->compositionPageId) {
        ctx->compositionSeen = true;
        return pageId;
    }
    if (pageId == ctx->ancillaryPageId) {
        // The ancillary page carries shared CLUTs and objects (and may carry
        // the display definition); it composes nothing of its own.
        const bool shared = type == ids::kSegCLUTDefinition || type == ids::kSegObjectData ||
                            type == ids::kSegDisplayDefinition;
        return shared ? ctx->compositionPageId : -1;
    }
    if (!ctx->compositionSeen && adopt_other_page(ctx, type, pageId)) return pageId;
    return -1;
}

void subtitle_process_pes(subtitle_ctx* ctx, const unsigned char* data, int length) {
    ByteReader pes(data, length > 0 ? size_t(length) : 0);
    const int s0 = pes.PeekAt(0), s1 = pes.PeekAt(1), s2 = pes.PeekAt(2);
    if (length < 3 || s0 != 0x00 || s1 != 0x00 || s2 != 0x01) {
        eWarning("%s: invalid startcode %02x %02x %02x\n", "subtitle_process_pes", s0, s1, s2);
        return;
    }
    pes.Skip(3);
    const int streamId = pes.U8();
    if (streamId != ids::kStreamPrivate1) {
        eWarning("%s: invalid stream_id %02x\n", "subtitle_process_pes", streamId);
        return;
    }
    pes.Skip(4);  // PES_packet_length and the two flag bytes
    const int headerLength = pes.U8();
    // The bytes after data_identifier and subtitle_stream_id.
    const int remaining = length - headerLength - 11;
    if (!pes.Ok() || !pes.Skip(size_t(headerLength)) || pes.AtEnd()) {
        eWarning("ERROR: No data left (%d)\n", remaining);
        return;
    }
    const int dataIdentifier = pes.U8();
    if (dataIdentifier != ids::kDvbSubDataIdentifier) {
        eWarning("ERROR: Data identifier is 0x%02x, but not 0x20\n", dataIdentifier);
        return;
    }
    if (remaining <= 0) {
        eWarning("ERROR: No data left (%d)\n", remaining);
        return;
    }
    pes.U8();  // subtitle_stream_id
    ctx->segmentsSeen = 0;
    while (pes.PeekAt(0) == ids::kDvbSubSyncByte) {
        const int used = subtitle_process_segment(ctx, pes.Current(), int(pes.Remaining()));
        if (used < 0) break;
        pes.Skip(size_t(used));
        if (pes.AtEnd()) return;
    }
    if (pes.PeekAt(0) == ids::kDvbSubEndOfPES) return;
    eWarning("ERROR: Strange data at the end\n");
    show_broken_display_set(ctx);
}

