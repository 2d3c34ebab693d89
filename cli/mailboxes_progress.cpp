#include "cli/mailboxes_progress.h"

#include <iostream>

namespace cli {
namespace {

// The status line stays within an 80-column terminal, so that redrawing it in place works.
constexpr size_t kLineWidth = 79;

std::string Bar(int done, int count) {
    const int width = 30;
    int filled = int(int64_t(done) * width / count);
    filled = filled < 0 ? 0 : filled > width ? width : filled;
    return "[" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), ' ') + "]";
}

}  // namespace

class MailboxesProgress::Watcher : public engine::RunObserver {
  public:
    Watcher(MailboxesProgress& owner, int index) : owner_(owner), index_(index) {}
    void ScanProgress(int queued) override { owner_.Update(index_, queued, 0, 0); }
    void FolderScanned(int, int, const std::string& source, int files) override {
        owner_.Scanned(index_, source, files);
    }
    void FileDone(int index, int count) override { owner_.Update(index_, 0, index, count); }
    void FolderFinished(engine::FolderOutcome outcome, const std::string& error) override {
        if (outcome == engine::FolderOutcome::StoreFailed) owner_.Failed(index_, error);
    }

  private:
    MailboxesProgress& owner_;
    int index_;
};

std::unique_ptr<engine::RunObserver> MailboxesProgress::Watch(int index, const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    active_[index].name = name;
    Draw(true);
    return std::make_unique<Watcher>(*this, index);
}

void MailboxesProgress::Done(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    active_.erase(index);
    ++finished_;
    Draw(true);
}

void MailboxesProgress::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearLine();
    out_ << std::flush;
}

void MailboxesProgress::Scanned(int index, const std::string& source, int files) {
    std::lock_guard<std::mutex> lock(mutex_);
    Active& a = active_[index];
    a.source = source;
    a.done = 0;
    a.count = files;
    if (quiet_) return;
    ClearLine();
    out_ << (mailboxes_ > 1
                 ? "folder " + std::to_string(index) + " of " + std::to_string(mailboxes_) + ": "
                 : "")
         << files << (files == 1 ? " file" : " files") << " under " << source << "\n";
    Draw(true);
}

void MailboxesProgress::Failed(int index, const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClearLine();
    out_ << std::flush;
    std::cerr << "eml2pst: " << active_[index].source << " not converted: " << error << "\n";
    Draw(true);
}

void MailboxesProgress::Update(int index, int queued, int done, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    Active& a = active_[index];
    a.queued = queued;
    a.done = done;
    a.count = count;
    Draw(count > 0 && done == count);
}

void MailboxesProgress::Draw(bool force) {
    if (!terminal_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    std::string line =
        mailboxes_ > 1 ? std::to_string(finished_) + " of " + std::to_string(mailboxes_) + " done"
                       : "";
    size_t shown = 0;
    for (const auto& [index, a] : active_) {
        std::string part = a.name + " ";
        if (a.count == 0)
            part += "scanning " + std::to_string(a.queued);
        else if (active_.size() == 1)
            part += Bar(a.done, a.count) + " " + std::to_string(a.done) + " of " +
                    std::to_string(a.count);
        else
            part += std::to_string(int(int64_t(a.done) * 100 / a.count)) + "%";
        part = (line.empty() ? "" : " | ") + part;
        // Room is kept for the count of those that do not fit.
        const size_t rest = active_.size() - shown - 1;
        if (line.size() + part.size() + (rest ? 10 : 0) > kLineWidth) {
            line += " | +" + std::to_string(active_.size() - shown) + " more";
            break;
        }
        line += part;
        ++shown;
    }
    if (line == lastLine_) return;
    out_ << "\r" << line
         << std::string(lastLine_.size() > line.size() ? lastLine_.size() - line.size() : 0, ' ')
         << std::flush;
    lastLine_ = line;
}

void MailboxesProgress::ClearLine() {
    if (lastLine_.empty()) return;
    out_ << "\r" << std::string(lastLine_.size(), ' ') << "\r";
    lastLine_.clear();
}

}  // namespace cli
