#pragma once

#include <string>

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

}  // namespace ui
