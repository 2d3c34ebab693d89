#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Toolkit-neutral models of the controls a window owns. A front end binds each model to a
// native widget; the logic only ever reads and writes the model.
namespace ui {

struct Control {
    bool Enabled = true;
    bool Visible = true;
    std::string ToolTipText;
};

struct Label : Control {
    std::string Caption;
};

struct Button : Control {
    std::string Caption;
};

struct Frame : Control {
    std::string Caption;
};

struct ProgressBar : Control {
    float Min = 0;
    float Max = 100;
    float Value = 0;
};

struct TextBox : Control {
    std::string Text;
    bool Locked = false;  // read-only for the user
};

// An option button of a group; the selected one's caption is drawn at FontWeight 700.
struct OptionButton : Control {
    std::string Caption;
    bool Value = false;
    int FontWeight = 400;
};

struct CheckBox : Control {
    std::string Caption;
    bool Value = false;
};

constexpr uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return uint32_t(r) << 16 | uint32_t(g) << 8 | b;
}

// One row of a report-view list: its text with an icon, one sub-item with its own icon and
// tooltip, its check mark, and how it is drawn.
struct ListItem {
    std::string Text;
    int Icon = 0;  // 1-based into the list's image list, 0 for none
    std::string SubItem;
    int SubItemIcon = 0;
    std::string SubItemToolTip;
    bool Checked = false;
    uint32_t ForeColor = 0;  // RGB
    bool Bold = false;
};

// Bands of two colours, each `RowHeight` pixels high, tiled from the top of the rows.
struct RowStripes {
    int RowHeight = 0;
    uint32_t ColorOne = Rgb(255, 255, 255);
    uint32_t ColorTwo = Rgb(255, 255, 255);
};

struct ListView : Control {
    std::vector<ListItem> Items;
    bool ReportView = true;
    std::optional<RowStripes> Background;
    int RowHeight = 17;  // what the front end measures for one row
};

// A top-level window. A closed window's model stays valid; it is only not visible any more.
struct Window {
    virtual ~Window() = default;
    std::string Caption;
    bool Visible = false;
    bool Enabled = true;
};

}  // namespace ui
