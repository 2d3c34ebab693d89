#include "gui/start_frame.h"

#include "gui/frontend.h"
#include "gui/icons.h"
#include "gui/look.h"

namespace gui {

StartFrame::StartFrame(Frontend& frontend, wizard::frmStart& model)
    : wxFrame(nullptr, wxID_ANY, Wx(model.Caption), wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX)),
      frontend_(frontend),
      m_(model) {
    SetIcons(AppIcons());
    SetClientSize(FromDIP(wxSize(618, 472)));
    auto* p = new BandPanel(this);
    p->SetFont(Tahoma(9));
    const wxColour back = p->GetBackgroundColour();
    p->AddBand(Px(this, 0, 0, 713, 57));
    p->AddBand(Px(this, -16, 432, 713, 57));

    // Created in keyboard order: the option group, Next, Help.
    auto* frame = new wxStaticBox(p, wxID_ANY, Wx(m_.Frame1.Caption));
    Place(frame, Px(this, 16, 112, 585, 265), Tahoma(9, true));
    optSingle_ = new wxRadioButton(p, wxID_ANY, Wx(m_.OptSingle.Caption), wxDefaultPosition,
                                   wxDefaultSize, wxRB_GROUP);
    Place(optSingle_, Px(this, 32, 152, 129, 33), Tahoma(9, true));
    optMultiple_ = new wxRadioButton(p, wxID_ANY, Wx(m_.OptMultiple.Caption));
    Place(optMultiple_, Px(this, 32, 232, 137, 33), Tahoma(9));
    next_ = Place(new wxButton(p, wxID_ANY, Wx(m_.CmdNext.Caption)), Px(this, 488, 440, 113, 26),
                  Tahoma(9));
    help_ = Place(new wxButton(p, wxID_ANY, Wx(m_.CmdHelp.Caption)), Px(this, 16, 440, 113, 26),
                  Tahoma(9));

    MakeLabel(p, m_.lblTitle.Caption, Px(this, 16, 8, 417, 25), Tahoma(14.25, true), kGreen,
              kBandFill);
    MakeLabel(p, m_.Label3.Caption, Px(this, 16, 64, 569, 40), Verdana(8.25), *wxBLACK, back, true);
    auto* singleHelp = MakeHelpLink(p, m_.lblSingleHelp.Caption, m_.lblSingleHelp.ToolTipText,
                                    Px(this, 168, 160, 25, 16), back, [this] {
                                        m_.lblSingleHelp_Click();
                                        After();
                                    });
    MakeLabel(p, m_.Label2.Caption, Px(this, 48, 184, 529, 40), Tahoma(9), kDarkGrey, back, true);
    auto* multipleHelp = MakeHelpLink(p, m_.lblMultipleHelp.Caption, m_.lblMultipleHelp.ToolTipText,
                                      Px(this, 168, 240, 25, 16), back, [this] {
                                          m_.lblMultipleHelp_Click();
                                          After();
                                      });
    MakeLabel(p, m_.Label4.Caption, Px(this, 48, 288, 529, 55), Tahoma(9), kDarkGrey, back, true);

    optSingle_->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
        m_.OptSingle.Value = true;
        m_.OptSingle_Click();
        After();
    });
    optMultiple_->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
        m_.OptMultiple.Value = true;
        m_.OptMultiple_Click();
        After();
    });
    next_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_.CmdNext_Click();
        After();
    });
    help_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_.CmdHelp_Click();
        After();
    });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& ev) {
        // Yes ends the process inside the handler; anything else keeps the page.
        if (m_.Form_Unload() && ev.CanVeto()) ev.Veto();
        After();
    });

    frontend_.Name("start.single", optSingle_);
    frontend_.Name("start.multiple", optMultiple_);
    frontend_.Name("start.next", next_);
    frontend_.Name("start.help", help_);
    frontend_.Name("start.single-help", singleHelp);
    frontend_.Name("start.multiple-help", multipleHelp);
    Centre(wxBOTH);
    Sync();
    (m_.OptSingle.Value ? optSingle_ : optMultiple_)->SetFocus();
}

StartFrame::~StartFrame() {
    frontend_.Forget(this);
}

void StartFrame::After() {
    frontend_.SyncAll();
}

void StartFrame::Sync() {
    if (optSingle_->GetValue() != m_.OptSingle.Value) optSingle_->SetValue(m_.OptSingle.Value);
    if (optMultiple_->GetValue() != m_.OptMultiple.Value)
        optMultiple_->SetValue(m_.OptMultiple.Value);
    // The selected option's caption is bold.
    for (auto [radio, opt] :
         {std::pair{optSingle_, &m_.OptSingle}, {optMultiple_, &m_.OptMultiple}}) {
        bool bold = opt->FontWeight >= 700;
        if ((radio->GetFont().GetWeight() >= wxFONTWEIGHT_BOLD) != bold) {
            radio->SetFont(Tahoma(9, bold));
            // A bold caption is wider: grow with it, never shrink below the design.
            wxSize size = radio->GetSize();
            radio->SetSize(wxSize(std::max(size.x, radio->GetBestSize().x + FromDIP(4)), size.y));
        }
    }
    next_->Enable(m_.CmdNext.Enabled);
    if (IsShown() != m_.Visible) Show(m_.Visible);
}

}  // namespace gui
