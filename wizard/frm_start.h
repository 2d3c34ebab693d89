#pragma once

#include "ui/controls.h"

namespace wizard {

class Wizard;

// The start page: the choice between one folder and many, the help links and the only way
// out of the program (the exit question).
class frmStart : public ui::Window {
  public:
    explicit frmStart(Wizard& app);

    ui::Label lblTitle;
    ui::Label Label3;
    ui::Frame Frame1;
    ui::OptionButton OptSingle;
    ui::Label lblSingleHelp;
    ui::Label Label2;
    ui::OptionButton OptMultiple;
    ui::Label lblMultipleHelp;
    ui::Label Label4;
    ui::Button CmdHelp;
    ui::Button CmdNext;

    // The front end sets the option's Value, then calls its handler.
    void OptSingle_Click();
    void OptMultiple_Click();
    void CmdNext_Click();
    void CmdHelp_Click();
    void lblSingleHelp_Click();
    void lblMultipleHelp_Click();
    // The exit question. Answers whether the close is cancelled; Yes ends the process.
    bool Form_Unload();

    bool SingleSelected() const { return OptSingle.Value; }

  private:
    void Select(bool single);
    Wizard& app_;
};

}  // namespace wizard
