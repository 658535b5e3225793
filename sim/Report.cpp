#include "Report.h"

#include <fstream>

namespace {

std::string HtmlEscape(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default:
                // The drawn text is UTF-8; control characters show as a dot.
                out += (c < 0x20 || c == 0x7F) ? '.' : char(c);
        }
    }
    return out;
}

std::string TsvField(const std::string& text) {
    std::string out;
    for (char c : text) out += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
    return out;
}

std::string Time(int64_t ms) {
    char buf[32];
    snprintf(buf, sizeof buf, "%lld:%02lld.%03lld", (long long)(ms / 60000), (long long)(ms / 1000 % 60),
             (long long)(ms % 1000));
    return buf;
}

}  // namespace

Report::Report(std::string outDir) : outDir_(std::move(outDir)) {}

Report::~Report() {
    if (timeline_) fclose(timeline_);
    if (pes_) fclose(pes_);
}

bool Report::Open() {
    timeline_ = fopen((outDir_ + "/timeline.tsv").c_str(), "w");
    pes_ = fopen((outDir_ + "/pes.tsv").c_str(), "w");
    if (!timeline_ || !pes_) return false;
    fputs("stream_ms\tblit\tfirst_row\tlast_row\tpng\ttext\tlog_bytes\tpes\ttext_rows\n", timeline_);
    fflush(timeline_);
    fputs("stream_ms\tstream_id\tbytes\n", pes_);
    fflush(pes_);
    return true;
}

void Report::AddPes(const HandedPes& pes) {
    if (!pes_) return;
    fprintf(pes_, "%lld\t%02x\t%d\n", (long long)pes.streamMs, pes.streamId, pes.bytes);
    fflush(pes_);
}

void Report::Add(const ScreenChange& change) {
    changes_.push_back(change);
    if (!timeline_) return;
    std::string text;
    for (size_t i = 0; i < change.lines.size(); ++i) text += (i ? " | " : "") + TsvField(change.lines[i]);
    std::string rows;
    for (size_t i = 0; i < change.rows.size(); ++i) rows += (i ? "," : "") + std::to_string(change.rows[i]);
    fprintf(timeline_, "%lld\t%d\t%d\t%d\t%s\t%s\t%lld\t%lld\t%s\n", (long long)change.streamMs, change.blit,
            change.firstRow, change.lastRow, change.png.c_str(), text.c_str(), (long long)change.logBytes,
            (long long)change.pesHanded, rows.c_str());
    fflush(timeline_);
}

bool Report::WriteIndex(const std::string& title) const {
    std::ofstream html(outDir_ + "/index.html");
    if (!html) return false;
    html << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" << HtmlEscape(title)
         << "</title>\n<style>body{font-family:sans-serif;background:#222;color:#eee}"
            "figure{display:inline-block;margin:8px}img{width:360px;border:1px solid #666}"
            "figcaption{max-width:360px;font-size:13px}</style></head><body>\n<h1>"
         << HtmlEscape(title) << "</h1>\n<p>" << changes_.size()
         << " screen changes. Each screen is the box's on-screen display over the TV picture;"
            " the picture is stood in for by a plain blue-grey backdrop (RGB 48, 80, 112), so"
            " whatever shows that colour is transparent on the display and would let the"
            " video through.</p>\n";
    for (const ScreenChange& c : changes_) {
        html << "<figure><a href=\"screens/" << c.png << "\"><img src=\"screens/" << c.png
             << "\" loading=\"lazy\"></a><figcaption>" << Time(c.streamMs) << " &middot; blit " << c.blit
             << " &middot; rows " << c.firstRow << "&ndash;" << c.lastRow;
        for (const std::string& line : c.lines) html << "<br>" << HtmlEscape(line);
        html << "</figcaption></figure>\n";
    }
    html << "</body></html>\n";
    return bool(html);
}
