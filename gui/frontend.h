#pragma once

#include <map>
#include <memory>
#include <string>

#include "gui/gui_shell.h"
#include "store/pst_session.h"
#include "wizard/wizard.h"

class wxWindow;

namespace gui {

class StartFrame;
class SingleDialog;
class MultipleFrame;
class StatusDialog;
class ScriptDriver;

// The desktop front end: the wizard's models and the native windows bound to them. A model
// change reaches the screen at the next SyncAll (after every handler and in every yield); a
// widget event calls the model's handler.
class Frontend {
  public:
    // `script`: the test hook's script file, or empty for a person at the screen.
    Frontend(const std::string& helpFolder, const std::string& script);
    ~Frontend();

    void Start();
    // Brings every native window in line with its model, creating and destroying the windows
    // of pages that came and went.
    void SyncAll();
    // Shows the native window of `window` modally; returns when its model is no longer visible.
    void ShowModal(ui::Window& window, ui::Window* owner);

    wizard::Wizard& wizard() { return wizard_; }
    GuiShell& shell() { return shell_; }
    ScriptDriver* script() { return script_.get(); }
    // The window dialogs should belong to: the topmost shown window of ours.
    wxWindow* ActiveWindow() const;

    // Controls by name ("start.next", "status.start", ...), for the test hook.
    void Name(const std::string& name, wxWindow* control) { named_[name] = control; }
    // Drops the names of the controls of top-level window `top` (from its destructor).
    void Forget(const wxWindow* top);
    wxWindow* Named(const std::string& name) const;
    // The native top-level window of a page by its prefix ("start", "single", ...).
    wxWindow* TopLevel(const std::string& page) const;

  private:
    GuiShell shell_;
    store::PstSessionFactory factory_;
    wizard::Wizard wizard_;
    StartFrame* start_ = nullptr;
    SingleDialog* single_ = nullptr;
    MultipleFrame* multiple_ = nullptr;
    const wizard::frmMultiple* boundMultiple_ = nullptr;
    StatusDialog* status_ = nullptr;
    std::unique_ptr<ScriptDriver> script_;
    std::map<std::string, wxWindow*> named_;
    bool syncing_ = false;
};

}  // namespace gui
