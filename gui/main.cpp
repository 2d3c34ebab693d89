// eml2pst-wizard: the desktop wizard. It shows the start page and reads no command line.
#include <wx/filename.h>
#include <wx/stdpaths.h>
#include <wx/wx.h>

#include <cstdlib>
#include <memory>

#include "gui/frontend.h"
#include "gui/look.h"

namespace {

class WizardApp : public wxApp {
  public:
    bool OnInit() override {
        // Paths and texts are UTF-8 whatever the C locale says.
        wxString exeDir = wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath();
        std::string exe = gui::Utf8(exeDir);
        std::string help = wizard::HelpSite::Locate(
            {exe + "/help", exe + "/../share/eml2pst/help", EML2PST_HELP_SOURCE_DIR});
        // The test hook: a script of answers and clicks instead of a person.
        const char* script = std::getenv("EML2PST_WIZARD_SCRIPT");
        frontend_ = std::make_unique<gui::Frontend>(help, script ? script : "");
        frontend_->Start();
        return true;
    }
    int OnExit() override {
        frontend_.reset();
        return wxApp::OnExit();
    }

  private:
    std::unique_ptr<gui::Frontend> frontend_;
};

}  // namespace

wxIMPLEMENT_APP(WizardApp);
