#include "wizard/wizard.h"

namespace wizard {

inline constexpr uint32_t kStartedRowColor = ui::Rgb(0, 128, 0);

StatusPage::StatusPage(engine::ConversionJob& job, ui::Shell& shell, store::SessionFactory& factory)
    : form(job, shell, factory) {
    Caption = form.controls.Caption;
    form.onUnload = [this] { Visible = false; };
}

Wizard::Wizard(ui::Shell& shell, store::SessionFactory& factory, HelpSite help)
    : shell_(shell),
      factory_(factory),
      help_(std::move(help)),
      start_(std::make_unique<frmStart>(*this)) {}

Wizard::~Wizard() = default;

void Wizard::Start() {
    start_->Visible = true;
}

void Wizard::ShowSingle() {
    if (!single_) single_ = std::make_unique<frmSingle>(*this);
    start_->Enabled = false;
    single_->Visible = true;
    shell_.ShowModal(*single_, start_.get());
    start_->Enabled = true;
    // A modal page comes back only by being closed from its frame.
    single_.reset();
}

void Wizard::ShowMultiple() {
    if (!multiple_) multiple_ = std::make_unique<frmMultiple>(*this);
    multiple_->Visible = true;
    start_->Visible = false;
}

void Wizard::BackToStart() {
    start_->Visible = true;
    if (multiple_) multiple_->Visible = false;
}

void Wizard::CloseMultiple() {
    // Nothing else would be left on screen and only the start page can end the program.
    multiple_.reset();
    start_->Visible = true;
}

void Wizard::RunStatusWindow(ui::Window* owner) {
    if (!status_) status_ = std::make_unique<StatusPage>(*this, shell_, factory_);
    status_->form.Show();
    status_->Visible = true;
    shell_.ShowModal(*status_, owner);
    // Whatever ended the modal show, the window is closed now.
    if (status_->form.IsOpen()) status_->form.Unload();
    status_->Visible = false;
}

void Wizard::OpenHelp(const std::string& helpPath) {
    std::string address = help_.Address(helpPath);
    if (address.empty()) {
        shell_.MessageBox("The help manual was not found beside the program.", "Help",
                          ui::MsgBoxStyle::InformationOk);
    } else if (!shell_.OpenUrl(address)) {
        shell_.MessageBox(
            "No web browser could be started to show the help.\r\n"
            "Open this page in a web browser:\r\n" +
                help_.PagePath(helpPath),
            "Help", ui::MsgBoxStyle::InformationOk);
    }
}

std::string Wizard::HelpLocation(const std::string& page) const {
    std::string address = help_.Address("/h/" + page);
    return address.empty() ? ConversionJob::HelpLocation(page) : address;
}

bool Wizard::SingleMode() const {
    return start_->SingleSelected();
}

std::string Wizard::SourceFolder() const {
    return single_ ? single_->txtSourceMailbox.Text : std::string();
}

std::string Wizard::OutputFolder() const {
    return multiple_ ? multiple_->txtOutputFolder.Text : std::string();
}

int Wizard::RowCount() const {
    return multiple_ ? int(multiple_->lv.Items.size()) : 0;
}

const ui::ListItem* Wizard::Row(int row) const {
    if (!multiple_ || row < 1 || row > RowCount()) return nullptr;
    return &multiple_->lv.Items[size_t(row - 1)];
}

bool Wizard::RowChecked(int row) const {
    auto* r = Row(row);
    return r && r->Checked;
}

std::string Wizard::RowText(int row) const {
    auto* r = Row(row);
    return r ? r->Text : std::string();
}

std::string Wizard::RowPath(int row) const {
    auto* r = Row(row);
    return r ? r->SubItem : std::string();
}

void Wizard::MarkRowStarted(int row) {
    if (!Row(row)) return;
    ui::ListItem& r = multiple_->lv.Items[size_t(row - 1)];
    r.ForeColor = kStartedRowColor;
    r.Bold = true;
}

}  // namespace wizard
