#include "gui/icons.h"

#include <wx/dcmemory.h>
#include <wx/graphics.h>

#include <memory>

namespace gui {
namespace {

void DrawFolder(wxGraphicsContext& g, double s) {
    g.SetPen(wxPen(wxColour(160, 120, 20), 1));
    g.SetBrush(wxBrush(wxColour(240, 200, 80)));
    wxGraphicsPath tab = g.CreatePath();
    tab.MoveToPoint(s * 0.06, s * 0.25);
    tab.AddLineToPoint(s * 0.38, s * 0.25);
    tab.AddLineToPoint(s * 0.46, s * 0.35);
    tab.AddLineToPoint(s * 0.94, s * 0.35);
    tab.AddLineToPoint(s * 0.94, s * 0.85);
    tab.AddLineToPoint(s * 0.06, s * 0.85);
    tab.CloseSubpath();
    g.DrawPath(tab);
}

void DrawEnvelope(wxGraphicsContext& g, double x, double y, double w, double h) {
    g.SetPen(wxPen(wxColour(90, 90, 90), 1));
    g.SetBrush(wxBrush(*wxWHITE));
    g.DrawRectangle(x, y, w, h);
    wxGraphicsPath flap = g.CreatePath();
    flap.MoveToPoint(x, y);
    flap.AddLineToPoint(x + w / 2, y + h * 0.6);
    flap.AddLineToPoint(x + w, y);
    g.StrokePath(flap);
}

}  // namespace

wxBitmap DrawPicture(Picture p, int size) {
    wxImage blank(size, size);
    blank.InitAlpha();
    for (int x = 0; x < size; ++x)
        for (int y = 0; y < size; ++y) blank.SetAlpha(x, y, 0);
    wxBitmap bmp(blank);
    wxMemoryDC dc(bmp);
    std::unique_ptr<wxGraphicsContext> g(wxGraphicsContext::Create(dc));
    if (!g) return bmp;
    const double s = size;
    g->SetAntialiasMode(wxANTIALIAS_DEFAULT);
    switch (p) {
        case Picture::Root:
            g->SetPen(wxPen(wxColour(80, 80, 80), 1));
            g->SetBrush(wxBrush(wxColour(200, 200, 210)));
            g->DrawRoundedRectangle(s * 0.06, s * 0.35, s * 0.88, s * 0.4, s * 0.08);
            g->SetBrush(wxBrush(wxColour(0, 170, 0)));
            g->DrawEllipse(s * 0.72, s * 0.5, s * 0.12, s * 0.12);
            break;
        case Picture::Folder:
            DrawFolder(*g, s);
            break;
        case Picture::Store:
            g->SetPen(wxPen(wxColour(20, 60, 140), 1));
            g->SetBrush(wxBrush(wxColour(70, 130, 210)));
            g->DrawRectangle(s * 0.2, s * 0.25, s * 0.6, s * 0.55);
            g->DrawEllipse(s * 0.2, s * 0.12, s * 0.6, s * 0.26);
            g->DrawEllipse(s * 0.2, s * 0.67, s * 0.6, s * 0.26);
            break;
        case Picture::User:
            g->SetPen(wxPen(wxColour(30, 80, 30), 1));
            g->SetBrush(wxBrush(wxColour(90, 170, 90)));
            g->DrawEllipse(s * 0.32, s * 0.06, s * 0.36, s * 0.36);
            g->DrawRoundedRectangle(s * 0.14, s * 0.5, s * 0.72, s * 0.44, s * 0.18);
            break;
        case Picture::Done: {
            g->SetPen(wxPen(wxColour(0, 140, 0), std::max(2, size / 7)));
            wxGraphicsPath tick = g->CreatePath();
            tick.MoveToPoint(s * 0.15, s * 0.55);
            tick.AddLineToPoint(s * 0.4, s * 0.8);
            tick.AddLineToPoint(s * 0.85, s * 0.2);
            g->StrokePath(tick);
            break;
        }
        case Picture::Skipped: {
            g->SetPen(wxPen(wxColour(120, 120, 120), std::max(2, size / 7)));
            wxGraphicsPath arrow = g->CreatePath();
            arrow.MoveToPoint(s * 0.15, s * 0.5);
            arrow.AddLineToPoint(s * 0.85, s * 0.5);
            arrow.MoveToPoint(s * 0.6, s * 0.25);
            arrow.AddLineToPoint(s * 0.85, s * 0.5);
            arrow.AddLineToPoint(s * 0.6, s * 0.75);
            g->StrokePath(arrow);
            break;
        }
        case Picture::Failed: {
            g->SetPen(wxPen(wxColour(200, 0, 0), std::max(2, size / 7)));
            wxGraphicsPath cross = g->CreatePath();
            cross.MoveToPoint(s * 0.2, s * 0.2);
            cross.AddLineToPoint(s * 0.8, s * 0.8);
            cross.MoveToPoint(s * 0.8, s * 0.2);
            cross.AddLineToPoint(s * 0.2, s * 0.8);
            g->StrokePath(cross);
            break;
        }
        case Picture::Info:
        case Picture::Note: {
            g->SetPen(wxPen(wxColour(20, 70, 170), 1));
            g->SetBrush(
                wxBrush(p == Picture::Info ? wxColour(50, 110, 220) : wxColour(230, 160, 0)));
            g->DrawEllipse(s * 0.06, s * 0.06, s * 0.88, s * 0.88);
            g->SetPen(wxPen(*wxWHITE, std::max(2, size / 8)));
            wxGraphicsPath mark = g->CreatePath();
            if (p == Picture::Info) {
                mark.MoveToPoint(s * 0.5, s * 0.42);
                mark.AddLineToPoint(s * 0.5, s * 0.76);
                g->StrokePath(mark);
                g->SetBrush(wxBrush(*wxWHITE));
                g->SetPen(*wxTRANSPARENT_PEN);
                g->DrawEllipse(s * 0.43, s * 0.2, s * 0.14, s * 0.14);
            } else {
                mark.MoveToPoint(s * 0.5, s * 0.22);
                mark.AddLineToPoint(s * 0.5, s * 0.58);
                g->StrokePath(mark);
                g->SetBrush(wxBrush(*wxWHITE));
                g->SetPen(*wxTRANSPARENT_PEN);
                g->DrawEllipse(s * 0.43, s * 0.68, s * 0.14, s * 0.14);
            }
            break;
        }
    }
    g.reset();
    dc.SelectObject(wxNullBitmap);
    return bmp;
}

wxImageList* MakeListImages(int size) {
    auto* list = new wxImageList(size, size, true, 7);
    for (Picture p : {Picture::Root, Picture::Folder, Picture::Store, Picture::User, Picture::Done,
                      Picture::Skipped, Picture::Failed})
        list->Add(DrawPicture(p, size));
    return list;
}

wxIconBundle AppIcons() {
    wxIconBundle bundle;
    for (int size : {16, 32, 48}) {
        wxBitmap bmp = DrawPicture(Picture::Store, size);
        wxMemoryDC dc(bmp);
        std::unique_ptr<wxGraphicsContext> g(wxGraphicsContext::Create(dc));
        if (g) DrawEnvelope(*g, size * 0.02, size * 0.02, size * 0.55, size * 0.38);
        g.reset();
        dc.SelectObject(wxNullBitmap);
        wxIcon icon;
        icon.CopyFromBitmap(bmp);
        bundle.AddIcon(icon);
    }
    return bundle;
}

}  // namespace gui
