#pragma once

#include <wx/gauge.h>
#include <wx/wx.h>

#include <map>

#include "gui/look.h"
#include "wizard/wizard.h"

namespace gui {

class Frontend;

// The status window's face, bound to the job's window model.
class StatusDialog : public wxDialog {
  public:
    StatusDialog(Frontend& frontend, wizard::StatusPage& page, wxWindow* owner);
    ~StatusDialog() override;
    void Sync();

  private:
    void After();
    void SetText(wxControl* w, const std::string& text, int wrapWidth = -1);
    Frontend& frontend_;
    wizard::StatusPage& page_;
    job::StatusControls& c_;
    wxControl* count_;
    wxButton* skip_;
    wxControl* progress_;
    ProgressBar* bar_;
    wxStaticBox* frame_;
    wxControl* current_;
    wxButton* start_;
    wxButton* stop_;
    std::map<wxWindow*, wxString> given_;  // each label's text before fitting
};

}  // namespace gui
