#include "gui/single_dialog.h"

#include <wx/statbmp.h>

#include "gui/frontend.h"
#include "gui/icons.h"
#include "gui/look.h"

namespace gui {

SingleDialog::SingleDialog(Frontend& frontend, wizard::frmSingle& model, wxWindow* owner)
    : wxDialog(owner, wxID_ANY, Wx(model.Caption)), frontend_(frontend), m_(model) {
    SetClientSize(FromDIP(wxSize(579, 250)));
    auto* p = new BandPanel(this);
    p->SetFont(Tahoma(9));
    const wxColour back = p->GetBackgroundColour();
    p->AddBand(Px(this, 0, 0, 713, 57));
    p->AddBand(Px(this, 16, 64, 545, 33), kPaleYellow);
    p->AddBand(Px(this, -8, 208, 713, 57));

    // Keyboard order: Select..., Next, the folder box.
    select_ = Place(new wxButton(p, wxID_ANY, Wx(m_.CmdAddFolder.Caption)),
                    Px(this, 464, 144, 97, 26), Tahoma(9));
    next_ = Place(new wxButton(p, wxID_ANY, Wx(m_.CmdNext.Caption)), Px(this, 448, 216, 113, 26),
                  Tahoma(8.25));
    source_ = Place(
        new wxTextCtrl(p, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxTE_READONLY),
        Px(this, 16, 144, 441, 27), Tahoma(9));

    MakeLabel(p, m_.lblTitle.Caption, Px(this, 16, 8, 417, 25), Tahoma(14.25, true), kGrey,
              kBandFill);
    MakeLabel(p, m_.lblSubtitle.Caption, Px(this, 16, 32, 409, 17), Tahoma(8.25), *wxBLACK,
              kBandFill);
    const int icon = FromDIP(16);
    new wxStaticBitmap(p, wxID_ANY, DrawPicture(Picture::Note, icon), FromDIP(wxPoint(24, 72)));
    MakeLabel(p, m_.Label2.Caption, Px(this, 48, 72, 473, 17), Tahoma(8.25), *wxBLACK, kPaleYellow);
    new wxStaticBitmap(p, wxID_ANY, DrawPicture(Picture::Folder, icon), FromDIP(wxPoint(16, 117)));
    MakeLabel(p, m_.Label3.Caption, Px(this, 40, 117, 361, 24), Tahoma(9), *wxBLACK, back);
    auto* link = MakeHelpLink(p, m_.lblSingleMailbox.Caption, m_.lblSingleMailbox.ToolTipText,
                              Px(this, 408, 119, 33, 16), back, [this] {
                                  m_.lblSingleMailbox_Click();
                                  After();
                              });

    select_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_.CmdAddFolder_Click();
        After();
    });
    next_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_.CmdNext_Click();
        After();
    });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) {
        m_.Form_Unload();
        After();
    });
    // Escape closes the page as its frame does.
    // Esc closes the page as its title bar's close box does (no button carries the cancel id).
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& ev) {
        if (ev.GetKeyCode() == WXK_ESCAPE)
            Close();
        else
            ev.Skip();
    });

    frontend_.Name("single.select", select_);
    frontend_.Name("single.next", next_);
    frontend_.Name("single.source", source_);
    frontend_.Name("single.help", link);
    Sync();
    CentreOnParent();
    select_->SetFocus();
}

SingleDialog::~SingleDialog() {
    frontend_.Forget(this);
}

void SingleDialog::After() {
    frontend_.SyncAll();
}

void SingleDialog::Sync() {
    wxString text = Wx(m_.txtSourceMailbox.Text);
    if (source_->GetValue() != text) source_->ChangeValue(text);
    next_->Enable(m_.CmdNext.Enabled);
    if (!m_.Visible && IsModal()) EndModal(wxID_CANCEL);
}

}  // namespace gui
