#pragma once

#include <memory>
#include <string>

#include "engine/status_window.h"
#include "job/frm_migate_all.h"
#include "store/object_model.h"
#include "ui/controls.h"
#include "ui/shell.h"
#include "wizard/frm_multiple.h"
#include "wizard/frm_single.h"
#include "wizard/frm_start.h"
#include "wizard/help_site.h"

namespace wizard {

// The status window as a top-level window of the wizard: the job's window model, visible
// while it is open.
class StatusPage : public ui::Window {
  public:
    StatusPage(engine::ConversionJob& job, ui::Shell& shell, store::SessionFactory& factory);
    job::frmMigateAll form;
};

// The application: the pages, the routing between them, and the job as the pages hold it.
// Pages are created on first use, kept while hidden and discarded when closed from their frame.
class Wizard : public engine::ConversionJob {
  public:
    Wizard(ui::Shell& shell, store::SessionFactory& factory, HelpSite help = {});
    ~Wizard() override;

    // Start-up: the start page, shown.
    void Start();

    frmStart& start() { return *start_; }
    frmSingle* single() { return single_.get(); }
    frmMultiple* multiple() { return multiple_.get(); }
    StatusPage* status() { return status_.get(); }
    ui::Shell& shell() { return shell_; }
    const HelpSite& help() const { return help_; }

    // Routing.
    void ShowSingle();     // modal over a disabled start page; returns when it closes
    void ShowMultiple();   // modeless; the start page hides
    void BackToStart();    // from the multiple page, which hides and keeps its state
    void CloseMultiple();  // the multiple page closed from its frame
    // Opens the status window modally over `owner` (none: no owner) and returns once it closed.
    void RunStatusWindow(ui::Window* owner);
    void OpenHelp(const std::string& helpPath);

    // The job, read from the pages at the moment it is asked for.
    bool SingleMode() const override;
    std::string SourceFolder() const override;
    std::string OutputFolder() const override;
    int RowCount() const override;
    bool RowChecked(int row) const override;
    std::string RowText(int row) const override;
    std::string RowPath(int row) const override;
    void MarkRowStarted(int row) override;
    std::string HelpLocation(const std::string& page) const override;

  private:
    const ui::ListItem* Row(int row) const;

    ui::Shell& shell_;
    store::SessionFactory& factory_;
    HelpSite help_;
    std::unique_ptr<frmStart> start_;
    std::unique_ptr<frmSingle> single_;
    std::unique_ptr<frmMultiple> multiple_;
    std::unique_ptr<StatusPage> status_;
};

}  // namespace wizard
