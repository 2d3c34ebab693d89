#include "gui/look.h"

#include <wx/dcbuffer.h>
#include <wx/fontenum.h>
#include <wx/generic/stattextg.h>

namespace gui {

wxFont DesignFont(const char* face, double points, bool bold) {
    wxFontInfo info(points);
    info.Family(wxFONTFAMILY_SWISS);
    if (bold) info.Bold();
    static const bool hasFace[2] = {wxFontEnumerator::IsValidFacename("Tahoma"),
                                    wxFontEnumerator::IsValidFacename("Verdana")};
    static const bool hasLiberation = wxFontEnumerator::IsValidFacename("Liberation Sans");
    bool installed = std::string(face) == "Tahoma" ? hasFace[0] : hasFace[1];
    if (installed)
        info.FaceName(face);
    else if (hasLiberation)
        info.FaceName("Liberation Sans");
    return wxFont(info);
}

BandPanel::BandPanel(wxWindow* parent) : wxPanel(parent, wxID_ANY) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &BandPanel::OnPaint, this);
}

void BandPanel::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    for (const auto& b : bands_) {
        dc.SetBrush(wxBrush(b.fill));
        dc.SetPen(wxPen(kBandBorder));
        dc.DrawRectangle(b.rect);
    }
}

wxWindow* MakeHelpLink(wxWindow* parent, const std::string& caption, const std::string& tip,
                       const wxRect& r, const wxColour& background, std::function<void()> onClick) {
    // The generic label has a window of its own, so it receives clicks and shows its cursor.
    auto* link = new wxGenericStaticText(parent, wxID_ANY, Wx(caption));
    Place(link, r, Tahoma(8.25));
    link->SetSize(wxSize(std::max(r.width, link->GetBestSize().x), r.height));
    link->SetForegroundColour(kLinkBlue);
    link->SetBackgroundColour(background);
    link->SetCursor(wxCursor(wxCURSOR_HAND));
    link->SetToolTip(Wx(tip));
    link->Bind(wxEVT_LEFT_UP, [onClick](wxMouseEvent&) { onClick(); });
    return link;
}

wxControl* MakeLabel(wxWindow* parent, const std::string& caption, const wxRect& r,
                     const wxFont& font, const wxColour& fore, const wxColour& back, bool wrap) {
    auto* label = new wxGenericStaticText(parent, wxID_ANY, wxEmptyString, r.GetPosition(),
                                          r.GetSize(), wxST_NO_AUTORESIZE);
    label->SetFont(font);
    label->SetForegroundColour(fore);
    label->SetBackgroundColour(back);
    label->SetLabelText(Wx(caption));  // an '&' in a text is shown, not an access key
    if (wrap) label->Wrap(r.width);
    // The fallback fonts run wider than the design's: grow rather than clip.
    wxSize best = label->GetBestSize();
    label->SetSize(wxSize(wrap ? r.width : std::max(r.width, best.x), std::max(r.height, best.y)));
    return label;
}

}  // namespace gui
