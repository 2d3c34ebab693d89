#include "cli/mailbox_workers.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "cli/console_shell.h"
#include "job/frm_migate_all.h"
#include "store/pst_session.h"

namespace cli {
namespace {

// The conversion of one mailbox, as the status window makes it for a job of that one row.
engine::RunReport ConvertOne(const CliJob& job, size_t row, size_t readingThreads,
                             MailboxesProgress& progress) {
    CliJob one;
    one.single = false;
    one.output = job.output;
    one.rows = {job.rows[row]};
    one.keepDuplicates = job.keepDuplicates;
    one.maxSize = job.maxSize;
    ConsoleShell shell;
    store::PstSessionFactory factory(readingThreads);
    job::frmMigateAll window(one, shell, factory);
    auto watcher = progress.Watch(int(row) + 1, one.rows[0].name);
    window.events.Add(*watcher);
    shell.onInterrupt = [&window] { window.CmdStopMigration_Click(); };
    window.Show();
    // What was committed stays in the data file; the mailbox counts as not converted.
    auto notConverted = [&](const std::string& why) {
        auto& folders = window.report.folders;
        if (folders.empty() || folders.back().source != one.rows[0].path) {
            folders.push_back({});
            folders.back().source = one.rows[0].path;
        }
        folders.back().outcome = engine::FolderOutcome::StoreFailed;
        folders.back().storeFailed = true;
        folders.back().storeError = why;
    };
    try {
        window.CmdStartConversion_Click();
    } catch (const std::exception& e) {
        notConverted(e.what());
    } catch (...) {
        notConverted("unexpected failure");
    }
    progress.Done(int(row) + 1);
    return std::move(window.report);
}

void Append(engine::RunReport& to, engine::RunReport&& from) {
    auto move = [](auto& a, auto& b) {
        a.insert(a.end(), std::make_move_iterator(b.begin()), std::make_move_iterator(b.end()));
    };
    move(to.folders, from.folders);
    move(to.failures, from.failures);
    move(to.warnings, from.warnings);
    move(to.ignored, from.ignored);
}

}  // namespace

std::vector<CliJob::Row> ShardOf(const std::vector<CliJob::Row>& rows, int k, int n) {
    std::vector<CliJob::Row> shard;
    for (size_t i = 0; i < rows.size(); ++i)
        if (int(i % size_t(n)) == k) shard.push_back(rows[i]);
    return shard;
}

int DefaultJobs(size_t mailboxes) {
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    return int(std::max<size_t>(1, std::min(cores, mailboxes)));
}

engine::RunReport ConvertMailboxes(const CliJob& job, int jobs, MailboxesProgress& progress) {
    std::vector<engine::RunReport> reports(job.rows.size());
    std::atomic<size_t> next{0};
    const size_t workers = std::min(size_t(std::max(jobs, 1)), job.rows.size());
    // The reading threads are shared out among the mailboxes converted at once.
    const size_t readingThreads =
        std::max<size_t>(1, store::DefaultReadingThreads() / std::max<size_t>(workers, 1));
    auto work = [&] {
        for (;;) {
            if (ConsoleShell::Interrupted()) return;
            const size_t row = next++;
            if (row >= job.rows.size()) return;
            reports[row] = ConvertOne(job, row, readingThreads, progress);
        }
    };
    std::vector<std::thread> threads;
    // The calling thread is one of the workers.
    for (size_t i = 1; i < workers; ++i) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
    progress.Finish();
    engine::RunReport report;
    for (auto& r : reports) Append(report, std::move(r));
    return report;
}

}  // namespace cli
