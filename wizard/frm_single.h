#pragma once

#include "ui/controls.h"

namespace wizard {

class Wizard;

// The single-folder page: one source folder, then the status window.
class frmSingle : public ui::Window {
  public:
    explicit frmSingle(Wizard& app);

    ui::Label lblTitle;
    ui::Label lblSubtitle;
    ui::Label Label2;
    ui::Label Label3;
    ui::Label lblSingleMailbox;
    ui::TextBox txtSourceMailbox;
    ui::Button CmdAddFolder;
    ui::Button CmdNext;

    void CmdAddFolder_Click();
    void CmdNext_Click();
    void lblSingleMailbox_Click();
    // Closed from its frame: the page goes away and the next visit starts empty.
    void Form_Unload();

    bool Closed() const { return closed_; }

  private:
    Wizard& app_;
    bool closed_ = false;
};

}  // namespace wizard
