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

DrawnGauge::DrawnGauge(wxWindow* parent, int range)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE),
      range_(std::max(range, 1)) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &DrawnGauge::OnPaint, this);
}

void DrawnGauge::SetRange(int range) {
    range_ = std::max(range, 1);
    Refresh();
}

void DrawnGauge::SetValue(int value) {
    value_ = std::clamp(value, 0, range_);
    Refresh();
}

void DrawnGauge::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW)));
    dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
    dc.DrawRectangle(wxPoint(0, 0), size);
    const int filled = int((long long)(size.x - 2) * value_ / range_);
    if (filled > 0) {
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)));
        dc.DrawRectangle(1, 1, filled, size.y - 2);
    }
}

ProgressBar* MakeProgressBar(wxWindow* parent, int range) {
#ifdef __WXMSW__
    return new wxGauge(parent, wxID_ANY, range, wxDefaultPosition, wxDefaultSize, wxGA_HORIZONTAL);
#else
    return new DrawnGauge(parent, range);
#endif
}

std::pair<wxString, bool> FitText(wxWindow* label, const wxString& text, int wrapWidth) {
    const int width = wrapWidth > 0 ? wrapWidth : label->GetClientSize().x;
    if (width <= 0) return {text, false};
    wxClientDC dc(label);
    dc.SetFont(label->GetFont());
    wxString shown;
    bool changed = false;
    if (wrapWidth > 0) {
        // Words are kept whole by wrapping; only a word no line can hold is shortened.
        wxString word;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i < text.size() && text[i] != ' ' && text[i] != '\n') {
                word += text[i];
                continue;
            }
            if (dc.GetTextExtent(word).x > width) {
                word = wxControl::Ellipsize(word, dc, wxELLIPSIZE_MIDDLE, width);
                changed = true;
            }
            shown += word;
            if (i < text.size()) shown += text[i];
            word.clear();
        }
    } else if (dc.GetTextExtent(text).x > width) {
        shown = wxControl::Ellipsize(text, dc, wxELLIPSIZE_MIDDLE, width);
        changed = true;
    } else {
        shown = text;
    }
    return {shown, changed};
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
