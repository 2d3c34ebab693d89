#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "engine/run_events.h"

namespace cli {

// The progress of several mailboxes converted at once, drawn on `out`. Each mailbox's run
// reports through its own watcher (from Watch), on its own thread. A line says when a mailbox
// is scanned; on a terminal one status line below them, redrawn in place, shows every active
// mailbox. Nothing but failed data files (told on stderr) when `quiet`.
class MailboxesProgress {
  public:
    MailboxesProgress(std::ostream& out, bool terminal, bool quiet, int mailboxes)
        : out_(out), terminal_(terminal && !quiet), quiet_(quiet), mailboxes_(mailboxes) {}

    // The watcher of mailbox `index` (1-based) while it is converted; Done when it ends.
    std::unique_ptr<engine::RunObserver> Watch(int index, const std::string& name);
    void Done(int index);
    // Ends the status line.
    void Finish();

  private:
    class Watcher;
    struct Active {
        std::string name;
        std::string source;
        int queued = 0;  // while scanning
        int done = 0;
        int count = 0;  // 0 while scanning
    };

    void Scanned(int index, const std::string& source, int files);
    void Failed(int index, const std::string& error);
    void Update(int index, int queued, int done, int count);
    // Under the lock.
    void Draw(bool force);
    void ClearLine();

    std::mutex mutex_;
    std::ostream& out_;
    bool terminal_;
    bool quiet_;
    int mailboxes_;
    int finished_ = 0;
    std::map<int, Active> active_;
    std::string lastLine_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace cli
