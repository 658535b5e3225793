// The presentation layer's one face to the decoders: the pages they hand
// over go to the screen of their kind; the status line beside them.
#pragma once

#include "pages/Page.h"
#include "render/DvbScreen.h"
#include "render/StatusLine.h"
#include "render/TeletextScreen.h"

namespace render {

class Presenter : public pages::PageSink {
public:
    void ShowDvb(const pages::DvbPage& page) override { dvb.Show(page); }
    void ClearDvb() override { dvb.Clear(); }
    void ShowTeletext(const pages::TeletextPage& page) override { teletext.Show(page); }
    void ClearTeletext() override { teletext.Clear(); }

    DvbScreen dvb;
    TeletextScreen teletext;
    StatusLine status;
};

}  // namespace render
