#pragma once

#include <wx/wx.h>

#include "wizard/frm_single.h"

namespace gui {

class Frontend;

// The single-folder page's window, modal over the start page.
class SingleDialog : public wxDialog {
  public:
    SingleDialog(Frontend& frontend, wizard::frmSingle& model, wxWindow* owner);
    ~SingleDialog() override;
    void Sync();

  private:
    void After();
    Frontend& frontend_;
    wizard::frmSingle& m_;
    wxButton* select_;
    wxButton* next_;
    wxTextCtrl* source_;
};

}  // namespace gui
