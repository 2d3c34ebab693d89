#include "gui/frontend.h"

#include <wx/wx.h>

#include "gui/multiple_frame.h"
#include "gui/script_driver.h"
#include "gui/single_dialog.h"
#include "gui/start_frame.h"
#include "gui/status_dialog.h"

namespace gui {

Frontend::Frontend(const std::string& helpFolder, const std::string& script)
    : shell_(*this), wizard_(shell_, factory_, wizard::HelpSite(helpFolder)) {
    if (!script.empty()) script_ = std::make_unique<ScriptDriver>(*this, script);
}

Frontend::~Frontend() = default;

void Frontend::Start() {
    wizard_.Start();
    start_ = new StartFrame(*this, wizard_.start());
    SyncAll();
    if (script_) script_->Begin();
}

void Frontend::SyncAll() {
    // A window being created or destroyed may ask again; once is enough.
    if (syncing_) return;
    syncing_ = true;
    if (start_) start_->Sync();
    if (wizard_.multiple() != boundMultiple_) {
        if (multiple_) {
            Forget(multiple_);
            multiple_->Destroy();  // deferred: its own close handler may be on the stack
        }
        multiple_ = nullptr;
        boundMultiple_ = wizard_.multiple();
        if (boundMultiple_) multiple_ = new MultipleFrame(*this, *wizard_.multiple());
    }
    if (multiple_) multiple_->Sync();
    if (single_) single_->Sync();
    if (status_) status_->Sync();
    syncing_ = false;
}

void Frontend::ShowModal(ui::Window& window, ui::Window* owner) {
    if (wizard_.single() && &window == wizard_.single()) {
        SingleDialog dialog(*this, *wizard_.single(), start_);
        single_ = &dialog;
        SyncAll();
        dialog.ShowModal();
        single_ = nullptr;
        return;
    }
    if (wizard_.status() && &window == wizard_.status()) {
        wxWindow* parent =
            owner && owner == wizard_.multiple() ? static_cast<wxWindow*>(multiple_) : nullptr;
        StatusDialog dialog(*this, *wizard_.status(), parent);
        auto* outer = status_;
        status_ = &dialog;
        SyncAll();
        dialog.ShowModal();
        status_ = outer;
    }
}

wxWindow* Frontend::ActiveWindow() const {
    if (status_ && status_->IsShown()) return status_;
    if (single_ && single_->IsShown()) return single_;
    if (multiple_ && multiple_->IsShown()) return multiple_;
    return start_;
}

void Frontend::Forget(const wxWindow* top) {
    // By owner, not by name: a page's old window may go after its new one has registered.
    for (auto it = named_.begin(); it != named_.end();)
        it = wxGetTopLevelParent(it->second) == top ? named_.erase(it) : std::next(it);
}

wxWindow* Frontend::Named(const std::string& name) const {
    auto it = named_.find(name);
    return it == named_.end() ? nullptr : it->second;
}

wxWindow* Frontend::TopLevel(const std::string& page) const {
    if (page == "start") return start_;
    if (page == "single") return single_;
    if (page == "multiple") return multiple_;
    if (page == "status") return status_;
    return nullptr;
}

}  // namespace gui
