#pragma once

#include <cstdint>
#include <string>

#include "ui/controls.h"

namespace wizard {

class Wizard;

// Icons of the page's image list (1-based, as the rows refer to them).
enum ListIcon : int {
    kIconRoot = 1,
    kIconFolder = 2,
    kIconStore = 3,
    kIconUser = 4,
    kIconDone = 5,
    kIconSkipped = 6,
    kIconFailed = 7,
    kIconCount = 7
};

inline constexpr uint32_t kRowColorOne = ui::Rgb(255, 255, 255);
inline constexpr uint32_t kRowColorTwo = ui::Rgb(255, 255, 192);

// The multiple-folder page: a root folder's subfolders as checkable rows, the output folder,
// then the status window over this page.
class frmMultiple : public ui::Window {
  public:
    explicit frmMultiple(Wizard& app);

    ui::Label lblTitle;
    ui::Label lblSubtitle;
    ui::Label Label3;
    ui::Button CmdAddFolder;
    ui::Label lblSelectRootFolder;
    ui::Frame Frame1;
    ui::CheckBox chkSelectAll;
    ui::ListView lv;
    ui::Label Label1;
    ui::TextBox txtOutputFolder;
    ui::Button cmdChange;
    ui::Button cmdBack;
    ui::Button CmdNext;

    void Form_Load();
    void CmdAddFolder_Click();
    // The front end sets chkSelectAll.Value, then calls this.
    void chkSelectAll_Click();
    void cmdChange_Click();
    void cmdBack_Click();
    void CmdNext_Click();
    void lblSelectRootFolder_Click();
    // Space on a row: its check mark flips; the select-all box is left as it is.
    void ToggleCheck(size_t row);
    // Closed from its frame: the page goes away and the start page comes back.
    void Form_Unload();

  private:
    Wizard& app_;
};

// Bands of `one` and `two`, one row high each, behind the rows of a report-view list with rows;
// other lists are left alone.
void AltLVBackground(ui::ListView& lv, uint32_t one, uint32_t two);

}  // namespace wizard
