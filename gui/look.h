#pragma once

#include <wx/wx.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Fonts, colours and placement shared by the windows. Positions are given in pixels at 96 dpi
// (or in twips, 15 to a pixel) and scaled with the screen's DPI.
namespace gui {

inline wxString Wx(const std::string& utf8) {
    return wxString::FromUTF8(utf8);
}
inline std::string Utf8(const wxString& s) {
    return std::string(s.ToUTF8());
}

inline wxColour Colour(uint32_t rgb) {
    return wxColour((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

inline const wxColour kBandFill(255, 255, 255);
inline const wxColour kBandBorder(192, 192, 192);
inline const wxColour kLinkBlue(0, 0, 255);
inline const wxColour kDarkGrey(64, 64, 64);
inline const wxColour kGrey(128, 128, 128);
inline const wxColour kGreen(0, 128, 0);
inline const wxColour kPaleYellow(255, 255, 192);

// A font of the design's face and size. Tahoma and Verdana are rarely installed on Linux: the
// face falls back to Liberation Sans (close to Tahoma's widths) and then to the default sans
// font, always at the design's size.
wxFont DesignFont(const char* face, double points, bool bold = false);
inline wxFont Tahoma(double points, bool bold = false) {
    return DesignFont("Tahoma", points, bold);
}
inline wxFont Verdana(double points, bool bold = false) {
    return DesignFont("Verdana", points, bold);
}

// A rectangle of the design in pixels at 96 dpi, scaled for `w`'s screen.
inline wxRect Px(const wxWindow* w, int x, int y, int width, int height) {
    return wxRect(w->FromDIP(wxPoint(x, y)), w->FromDIP(wxSize(width, height)));
}
// The same from twips.
inline wxRect Twips(const wxWindow* w, int x, int y, int width, int height) {
    return Px(w, x / 15, y / 15, width / 15, height / 15);
}

// Places `control` at `r` with `font` and returns it.
// Check boxes and option buttons are centred on the design's line at their own height, and
// widened when the font needs it.
template <typename T>
T* Place(T* control, const wxRect& r, const wxFont& font) {
    control->SetFont(font);
    wxRect placed = r;
    if (dynamic_cast<wxCheckBox*>(static_cast<wxWindow*>(control)) ||
        dynamic_cast<wxRadioButton*>(static_cast<wxWindow*>(control))) {
        // GTK complains when they get more height than they need, so they take exactly theirs.
        wxSize need = control->GetBestSize();
        placed.y += (placed.height - need.y) / 2;
        placed.height = need.y;
        // GTK measures a caption in a font just set a few pixels narrow (the font's style is
        // applied later) and then complains that the box is too small for it: a little slack.
        placed.width = std::max(placed.width, need.x + control->FromDIP(4));
    }
    control->SetSize(placed);
    return control;
}

// A panel that paints the header and footer bands (white with a silver border) and other
// rectangles of the design behind its controls.
class BandPanel : public wxPanel {
  public:
    struct Band {
        wxRect rect;
        wxColour fill;
    };
    explicit BandPanel(wxWindow* parent);
    void AddBand(const wxRect& r, const wxColour& fill = kBandFill) { bands_.push_back({r, fill}); }

  private:
    void OnPaint(wxPaintEvent&);
    std::vector<Band> bands_;
};

// A progress bar drawn at the height it is given. GTK's own bar draws a thin line whatever
// its height; the native Windows bar is used there.
class DrawnGauge : public wxWindow {
  public:
    DrawnGauge(wxWindow* parent, int range);
    void SetRange(int range);
    void SetValue(int value);
    int GetRange() const { return range_; }
    int GetValue() const { return value_; }

  private:
    void OnPaint(wxPaintEvent&);
    int range_;
    int value_ = 0;
};
#ifdef __WXMSW__
using ProgressBar = wxGauge;
#else
using ProgressBar = DrawnGauge;
#endif
ProgressBar* MakeProgressBar(wxWindow* parent, int range);

// `text` as `label` can show it: a word wider than the label (a long path) loses its middle to
// an ellipsis, then a wrapping label wraps at `wrapWidth`. The shown text, and whether it
// differs from `text` (the caller then offers the whole text as a tooltip).
std::pair<wxString, bool> FitText(wxWindow* label, const wxString& text, int wrapWidth);

// A clickable help link " [ ? ]": blue, pointing hand, tooltip.
wxWindow* MakeHelpLink(wxWindow* parent, const std::string& caption, const std::string& tip,
                       const wxRect& r, const wxColour& background, std::function<void()> onClick);

// A label with a solid background (for labels drawn on bands and note boxes).
wxControl* MakeLabel(wxWindow* parent, const std::string& caption, const wxRect& r,
                     const wxFont& font, const wxColour& fore, const wxColour& back,
                     bool wrap = false);

}  // namespace gui
