// Sits between the decoders and the presentation layer and counts the
// pages that show something: a DVB page with regions, a Teletext page with
// rows. Pages without (clears) pass uncounted.
#pragma once

#include <atomic>

#include "pages/Page.h"

class ContentCount : public pages::PageSink {
public:
    explicit ContentCount(pages::PageSink& next) : next_(next) {}

    void ShowDvb(const pages::DvbPage& page) override {
        if (!page.regions.empty()) ++shown_;
        next_.ShowDvb(page);
    }
    void ClearDvb() override { next_.ClearDvb(); }
    void ShowTeletext(const pages::TeletextPage& page) override {
        if (!page.rows.empty()) ++shown_;
        next_.ShowTeletext(page);
    }
    void ClearTeletext() override { next_.ClearTeletext(); }

    // The decoders call from the reader thread, the main loop reads.
    int Shown() const { return shown_.load(); }
    void Reset() { shown_ = 0; }

private:
    pages::PageSink& next_;
    std::atomic<int> shown_{0};
};
