#include "gui/status_dialog.h"

#include "gui/frontend.h"
#include "gui/look.h"

namespace gui {
namespace {

void SetState(wxWindow* w, const ui::Control& c) {
    if (w->IsThisEnabled() != c.Enabled) w->Enable(c.Enabled);
    if (w->IsShown() != c.Visible) w->Show(c.Visible);
}

}  // namespace

StatusDialog::StatusDialog(Frontend& frontend, wizard::StatusPage& page, wxWindow* owner)
    : wxDialog(owner, wxID_ANY, Wx(page.form.controls.Caption)),
      frontend_(frontend),
      page_(page),
      c_(page.form.controls) {
    SetClientSize(FromDIP(wxSize(8670 / 15, 3915 / 15)));
    auto* p = new BandPanel(this);
    p->SetFont(Tahoma(9));
    const wxColour back = p->GetBackgroundColour();
    p->AddBand(Twips(this, -120, -120, 10695, 1455));
    p->AddBand(Twips(this, -240, 3120, 10695, 1455));

    count_ = MakeLabel(p, c_.lblCount1.Caption, Twips(this, 120, 120, 8000, 375),
                       Tahoma(9.75, true), *wxBLACK, kBandFill);
    progress_ = MakeLabel(p, c_.lblProgress.Caption, Twips(this, 120, 600, 6015, 255),
                          Tahoma(11.25), *wxBLACK, kBandFill);
    frame_ = new wxStaticBox(p, wxID_ANY, Wx(c_.FrameConversion.Caption));
    Place(frame_, Twips(this, 120, 1440, 8415, 1215), Tahoma(9));
    current_ = MakeLabel(p, c_.LblCurrentDBX.Caption, Twips(this, 315, 1725, 7815, 735), Tahoma(9),
                         kGrey, back, true);
    bar_ = MakeProgressBar(p, 100);
    bar_->SetSize(Twips(this, 120, 960, 8415, 255));

    // Keyboard order: Start (or Stop in its place), then Skip.
    start_ = Place(new wxButton(p, wxID_ANY, Wx(c_.CmdStartConversion.Caption)),
                   Twips(this, 3120, 3240, 2415, 555), Verdana(9.75));
    stop_ = Place(new wxButton(p, wxID_ANY, Wx(c_.CmdStopMigration.Caption)),
                  Twips(this, 3120, 3240, 2415, 555), Verdana(9.75));
    stop_->SetToolTip(Wx(c_.CmdStopMigration.ToolTipText));
    skip_ = Place(new wxButton(p, wxID_ANY, Wx(c_.CmdSkip.Caption), wxDefaultPosition,
                               wxDefaultSize, wxBU_EXACTFIT),
                  Twips(this, 8160, 240, 375, 315), Tahoma(9.75, true));
    skip_->SetToolTip(Wx(c_.CmdSkip.ToolTipText));

    start_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        page_.form.CmdStartConversion_Click();
        After();
    });
    skip_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        page_.form.CmdSkip_Click();
        After();
    });
    stop_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        page_.form.CmdStopMigration_Click();
        After();
    });
    // Closing is never refused; a job still running goes on writing to the model only.
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) {
        page_.form.Form_QueryUnload();
        After();
    });
    // Esc closes the window as its title bar's close box does, confirmations included.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& ev) {
        if (ev.GetKeyCode() == WXK_ESCAPE)
            Close();
        else
            ev.Skip();
    });

    frontend_.Name("status.start", start_);
    frontend_.Name("status.stop", stop_);
    frontend_.Name("status.skip", skip_);
    frontend_.Name("status.count", count_);
    frontend_.Name("status.progress", progress_);
    Sync();
    if (owner)
        CentreOnParent();
    else
        CentreOnScreen();
    start_->SetFocus();
}

// The engine's lines are plain text: an '&' in a path is shown, not taken for an access key.
// A path too long for the label loses its middle; the whole text is then the tooltip.
void StatusDialog::SetText(wxControl* w, const std::string& text, int wrapWidth) {
    wxString full = Wx(text);
    wxString& given = given_[w];
    if (given == full && !full.empty()) return;
    given = full;
    auto [shown, shortened] = FitText(w, full, wrapWidth);
    w->SetLabelText(shown);
    if (auto* st = dynamic_cast<wxStaticTextBase*>(w); st && wrapWidth > 0) st->Wrap(wrapWidth);
    if (shortened)
        w->SetToolTip(full);
    else
        w->UnsetToolTip();
}

StatusDialog::~StatusDialog() {
    frontend_.Forget(this);
}

void StatusDialog::After() {
    frontend_.SyncAll();
}

void StatusDialog::Sync() {
    wxString caption = Wx(c_.Caption);
    if (GetTitle() != caption) SetTitle(caption);
    SetText(count_, c_.lblCount1.Caption);
    SetText(progress_, c_.lblProgress.Caption);
    SetText(current_, c_.LblCurrentDBX.Caption, current_->GetSize().x);
    // A frame's caption has no access key on GTK: it takes the text as it is.
    wxString frameCaption = Wx(c_.FrameConversion.Caption);
    if (frame_->GetLabel() != frameCaption) frame_->SetLabel(frameCaption);
    int value = int(c_.ProgressBar1.Value);
    int range = int(c_.ProgressBar1.Max - c_.ProgressBar1.Min);
    if (range > 0 && bar_->GetRange() != range) bar_->SetRange(range);
    value -= int(c_.ProgressBar1.Min);
    if (bar_->GetValue() != value) bar_->SetValue(std::clamp(value, 0, std::max(range, 0)));
    SetState(skip_, c_.CmdSkip);
    SetState(start_, c_.CmdStartConversion);
    SetState(stop_, c_.CmdStopMigration);
    if (!page_.Visible && IsModal()) EndModal(wxID_CANCEL);
}

}  // namespace gui
