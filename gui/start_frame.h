#pragma once

#include <wx/wx.h>

#include "wizard/frm_start.h"

namespace gui {

class Frontend;

// The start page's window.
class StartFrame : public wxFrame {
  public:
    StartFrame(Frontend& frontend, wizard::frmStart& model);
    ~StartFrame() override;
    void Sync();

  private:
    void After();  // every handler ends here: the models changed, the screen follows
    Frontend& frontend_;
    wizard::frmStart& m_;
    wxRadioButton* optSingle_;
    wxRadioButton* optMultiple_;
    wxButton* next_;
    wxButton* help_;
};

}  // namespace gui
