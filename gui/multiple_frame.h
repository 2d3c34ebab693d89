#pragma once

#include <wx/listctrl.h>
#include <wx/wx.h>

#include <vector>

#include "wizard/frm_multiple.h"

namespace gui {

class Frontend;

// The multiple-folder page's window: modeless, kept while hidden.
class MultipleFrame : public wxFrame {
  public:
    MultipleFrame(Frontend& frontend, wizard::frmMultiple& model);
    ~MultipleFrame() override;
    void Sync();
    // Ticks a row (0-based) as a click on its box does; false when there is no such row.
    bool CheckRow(long row);
    // Selects a row (0-based); false when there is no such row.
    bool SelectRow(long row);
    bool RowChecked(long row) const {
        return row >= 0 && row < lv_->GetItemCount() && lv_->IsItemChecked(row);
    }
    // Moves the mouse (by a synthetic event) over a cell and answers the tooltip shown there.
    std::string TipOverCell(long row, int column);
    std::string CellText(long row, int column) const;

  private:
    void After();
    void SyncList();
    void OnChecked(long row, bool checked);
    void OnListMotion(wxMouseEvent& ev);
    std::vector<wxWindow*> RowAreas() const;
    int ScrolledX(int x) const;

    Frontend& frontend_;
    wizard::frmMultiple& m_;
    wxButton* next_;
    wxListCtrl* lv_;
    wxButton* select_;
    wxCheckBox* selectAll_;
    wxButton* change_;
    wxTextCtrl* output_;
    wxButton* back_;
    bool updating_ = false;  // our own changes of the list raise no model events
    long tipRow_ = -2;
};

}  // namespace gui
