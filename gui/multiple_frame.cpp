#include "gui/multiple_frame.h"

#include <wx/scrolwin.h>
#include <wx/statbmp.h>
#include <wx/tooltip.h>

#include "gui/frontend.h"
#include "gui/icons.h"
#include "gui/look.h"

namespace gui {

MultipleFrame::MultipleFrame(Frontend& frontend, wizard::frmMultiple& model)
    : wxFrame(nullptr, wxID_ANY, Wx(model.Caption), wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX)),
      frontend_(frontend),
      m_(model) {
    SetIcons(AppIcons());
    SetClientSize(FromDIP(wxSize(706, 472)));
    auto* p = new BandPanel(this);
    p->SetFont(Tahoma(9));
    const wxColour back = p->GetBackgroundColour();
    p->AddBand(Px(this, 0, 0, 713, 57));
    p->AddBand(Px(this, 0, 432, 713, 57));

    auto* frame = new wxStaticBox(p, wxID_ANY, Wx(m_.Frame1.Caption));
    Place(frame, Px(this, 16, 104, 673, 273), Tahoma(9, true));

    // Created in keyboard order: Next, the list, Select..., the select-all box, Change...,
    // the output folder, Back.
    next_ = Place(new wxButton(p, wxID_ANY, Wx(m_.CmdNext.Caption)), Px(this, 576, 440, 113, 26),
                  Tahoma(8.25));
    lv_ = new wxListCtrl(p, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                         wxLC_REPORT | wxLC_SINGLE_SEL | wxBORDER_THEME);
    Place(lv_, Px(this, 32, 152, 641, 209), Tahoma(9));
    select_ = Place(new wxButton(p, wxID_ANY, Wx(m_.CmdAddFolder.Caption)),
                    Px(this, 448, 67, 97, 26), Tahoma(9));
    selectAll_ = new wxCheckBox(p, wxID_ANY, Wx(m_.chkSelectAll.Caption));
    Place(selectAll_, Px(this, 39, 128, 201, 17), Tahoma(9));
    change_ = Place(new wxButton(p, wxID_ANY, Wx(m_.cmdChange.Caption)), Px(this, 600, 384, 89, 26),
                    Tahoma(9));
    output_ = Place(
        new wxTextCtrl(p, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_READONLY),
        Px(this, 112, 384, 481, 27), Tahoma(9));
    back_ = Place(new wxButton(p, wxID_ANY, Wx(m_.cmdBack.Caption)), Px(this, 472, 440, 89, 26),
                  Tahoma(8.25));

    MakeLabel(p, m_.lblTitle.Caption, Px(this, 16, 8, 417, 25), Tahoma(14.25, true), kGrey,
              kBandFill);
    MakeLabel(p, m_.lblSubtitle.Caption, Px(this, 16, 32, 409, 17), Tahoma(8.25), *wxBLACK,
              kBandFill);
    const int icon = FromDIP(16);
    new wxStaticBitmap(p, wxID_ANY, DrawPicture(Picture::Root, icon), FromDIP(wxPoint(16, 72)));
    MakeLabel(p, m_.Label3.Caption, Px(this, 40, 72, 385, 24), Tahoma(9), *wxBLACK, back, true);
    auto* link = MakeHelpLink(p, m_.lblSelectRootFolder.Caption, m_.lblSelectRootFolder.ToolTipText,
                              Px(this, 552, 72, 33, 16), back, [this] {
                                  m_.lblSelectRootFolder_Click();
                                  After();
                              });
    MakeLabel(p, m_.Label1.Caption, Px(this, 16, 392, 105, 23), Tahoma(9), *wxBLACK, back);

    lv_->EnableCheckBoxes(true);
    lv_->AssignImageList(MakeListImages(icon), wxIMAGE_LIST_SMALL);
    lv_->AppendColumn("User", wxLIST_FORMAT_LEFT, FromDIP(200));
    lv_->AppendColumn("Mailbox Folder", wxLIST_FORMAT_LEFT, FromDIP(440));
    lv_->SetBackgroundColour(Colour(wizard::kRowColorOne));

    next_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_.CmdNext_Click();
        After();
    });
    select_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_.CmdAddFolder_Click();
        After();
    });
    selectAll_->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& ev) {
        m_.chkSelectAll.Value = ev.IsChecked();
        m_.chkSelectAll_Click();
        After();
    });
    change_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_.cmdChange_Click();
        After();
    });
    back_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_.cmdBack_Click();
        After();
    });
    lv_->Bind(wxEVT_LIST_ITEM_CHECKED, [this](wxListEvent& ev) { OnChecked(ev.GetIndex(), true); });
    lv_->Bind(wxEVT_LIST_ITEM_UNCHECKED,
              [this](wxListEvent& ev) { OnChecked(ev.GetIndex(), false); });
    // Space ticks or clears the selected row, as the list view does on Windows; handled here
    // on every platform so that the native list does not toggle it a second time.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& ev) {
        auto* from = dynamic_cast<wxWindow*>(ev.GetEventObject());
        const bool inList = from && (from == lv_ || from->GetParent() == lv_);
        long row = lv_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
        if (ev.GetKeyCode() != WXK_SPACE || !inList || row < 0) return ev.Skip();
        m_.ToggleCheck(size_t(row));
        After();
    });
    // The tooltips follow the mouse where the rows are drawn.
    for (wxWindow* area : RowAreas()) area->Bind(wxEVT_MOTION, &MultipleFrame::OnListMotion, this);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) {
        // The page and this window go away; the start page comes back.
        m_.Form_Unload();
        After();
    });

    frontend_.Name("multiple.next", next_);
    frontend_.Name("multiple.list", lv_);
    frontend_.Name("multiple.select", select_);
    frontend_.Name("multiple.select-all", selectAll_);
    frontend_.Name("multiple.change", change_);
    frontend_.Name("multiple.output", output_);
    frontend_.Name("multiple.back", back_);
    frontend_.Name("multiple.help", link);
    Sync();
    CentreOnScreen();
    next_->SetFocus();
}

MultipleFrame::~MultipleFrame() {
    frontend_.Forget(this);
}

void MultipleFrame::After() {
    frontend_.SyncAll();
}

void MultipleFrame::OnChecked(long row, bool checked) {
    if (updating_ || row < 0 || size_t(row) >= m_.lv.Items.size()) return;
    m_.lv.Items[size_t(row)].Checked = checked;
    After();
}

bool MultipleFrame::SelectRow(long row) {
    if (row < 0 || row >= lv_->GetItemCount()) return false;
    lv_->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                      wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    return true;
}

bool MultipleFrame::CheckRow(long row) {
    if (row < 0 || row >= lv_->GetItemCount()) return false;
    lv_->CheckItem(row, true);
    OnChecked(row, true);
    return true;
}

std::string MultipleFrame::CellText(long row, int column) const {
    return Utf8(lv_->GetItemText(row, column));
}

// The generic list (GTK) draws its rows on a child window that scrolls; the native list view
// (Windows) draws them itself and has no such child.
std::vector<wxWindow*> MultipleFrame::RowAreas() const {
    std::vector<wxWindow*> areas(lv_->GetChildren().begin(), lv_->GetChildren().end());
    if (areas.empty()) areas.push_back(lv_);
    return areas;
}

int MultipleFrame::ScrolledX(int x) const {
    auto* scrolled = dynamic_cast<wxScrollHelperBase*>(lv_);
    return scrolled ? scrolled->CalcScrolledPosition(wxPoint(x, 0)).x : x;
}

std::string MultipleFrame::TipOverCell(long row, int column) {
    wxRect r;  // relative to the list control
    if (!lv_->GetItemRect(row, r)) return "?";
    int x = column == 0 ? lv_->GetColumnWidth(0) / 2
                        : lv_->GetColumnWidth(0) + lv_->GetColumnWidth(1) / 2;
    wxPoint onScreen = lv_->ClientToScreen(wxPoint(ScrolledX(x), r.y + r.height / 2));
    for (wxWindow* area : RowAreas()) {
        // The rows' window is the child under that point.
        wxPoint p = area->ScreenToClient(onScreen);
        if (!area->GetClientRect().Contains(p)) continue;
        wxMouseEvent ev(wxEVT_MOTION);
        ev.SetEventObject(area);
        ev.SetPosition(p);
        area->ProcessWindowEvent(ev);
        wxToolTip* tip = area->GetToolTip();
        return tip ? Utf8(tip->GetTip()) : "";
    }
    return "?";
}

void MultipleFrame::OnListMotion(wxMouseEvent& ev) {
    ev.Skip();
    auto* area = dynamic_cast<wxWindow*>(ev.GetEventObject());
    if (!area) return;
    int flags = 0;
    long column = -1;
    long row = -1;
    if (area == lv_) {
        // The native list tells the column itself.
        row = lv_->HitTest(ev.GetPosition(), flags, &column);
    } else {
        row = lv_->HitTest(ev.GetPosition(), flags);
        // The column from the unscrolled x position and the column widths.
        int x = ev.GetPosition().x - ScrolledX(0);
        int firstWidth = lv_->GetColumnWidth(0);
        column = x < firstWidth ? 0 : x < firstWidth + lv_->GetColumnWidth(1) ? 1 : -1;
    }
    // Only the "Mailbox Folder" cells carry a tooltip: their full path.
    long tip = row >= 0 && column == 1 && size_t(row) < m_.lv.Items.size() ? row : -1;
    if (tip == tipRow_) return;
    tipRow_ = tip;
    if (tip < 0)
        area->UnsetToolTip();
    else
        area->SetToolTip(Wx(m_.lv.Items[size_t(tip)].SubItemToolTip));
}

void MultipleFrame::SyncList() {
    auto& items = m_.lv.Items;
    updating_ = true;
    // A listing grows a row per yield: rows already shown are kept and the new ones appended;
    // anything else rebuilds the list.
    const long shown = lv_->GetItemCount();
    bool prefix = shown <= long(items.size());
    for (long i = 0; prefix && i < shown; ++i)
        prefix = Utf8(lv_->GetItemText(i, 0)) == items[size_t(i)].Text &&
                 Utf8(lv_->GetItemText(i, 1)) == items[size_t(i)].SubItem;
    if (!prefix) {
        lv_->DeleteAllItems();
        tipRow_ = -2;
    }
    for (size_t i = size_t(lv_->GetItemCount()); i < items.size(); ++i) {
        long row = lv_->InsertItem(long(i), Wx(items[i].Text), items[i].Icon - 1);
        lv_->SetItem(row, 1, Wx(items[i].SubItem), items[i].SubItemIcon - 1);
    }
    for (size_t i = 0; i < items.size(); ++i) {
        long row = long(i);
        if (lv_->IsItemChecked(row) != items[i].Checked) lv_->CheckItem(row, items[i].Checked);
        wxColour fore = Colour(items[i].ForeColor);
        if (lv_->GetItemTextColour(row) != fore) lv_->SetItemTextColour(row, fore);
        wxFont current = lv_->GetItemFont(row);
        bool bold = current.IsOk() && current.GetWeight() >= wxFONTWEIGHT_BOLD;
        if (bold != items[i].Bold) {
            wxFont font = lv_->GetFont();
            if (items[i].Bold) font.MakeBold();
            lv_->SetItemFont(row, font);
        }
    }
    if (!items.empty()) {
        // The model's stripes are one measured row high, so they line up with the rows.
        wxRect r;
        if (lv_->GetItemRect(0, r)) m_.lv.RowHeight = ToDIP(r.height);
        if (m_.lv.Background) m_.lv.Background->RowHeight = m_.lv.RowHeight;
    }
    if (m_.lv.Background) {
        // Each row carries its band's colour, so the bands cannot drift from the rows whatever
        // the header height, the font or the scroll position.
        const auto& bands = *m_.lv.Background;
        for (long row = 0; row < long(items.size()); ++row) {
            wxColour band = Colour(row % 2 == 0 ? bands.ColorOne : bands.ColorTwo);
            if (lv_->GetItemBackgroundColour(row) != band) lv_->SetItemBackgroundColour(row, band);
        }
    }
    updating_ = false;
}

void MultipleFrame::Sync() {
    SyncList();
    if (selectAll_->GetValue() != m_.chkSelectAll.Value)
        selectAll_->SetValue(m_.chkSelectAll.Value);
    wxString caption = Wx(m_.chkSelectAll.Caption);
    if (selectAll_->GetLabel() != caption) selectAll_->SetLabel(caption);
    selectAll_->Enable(m_.chkSelectAll.Enabled);
    wxString output = Wx(m_.txtOutputFolder.Text);
    if (output_->GetValue() != output) output_->ChangeValue(output);
    if (IsShown() != m_.Visible) Show(m_.Visible);
}

}  // namespace gui
