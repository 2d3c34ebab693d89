// eml2pst: the command-line front end on the same job driver and conversion as the wizard.
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_job.h"
#include "cli/console_shell.h"
#include "cli/mailbox_workers.h"
#include "cli/mailboxes_progress.h"
#include "cli/summary.h"
#include "cli/summary_merge.h"
#include "engine/source_entries.h"
#include "fs/console.h"
#include "fs/mod_files.h"
#include "fs/utf8_path.h"
#include "job/frm_migate_all.h"
#include "job/message_queue_scan.h"
#include "pst/messaging/message_store.h"
#include "pst/messaging/store_verifier.h"
#include "pst/ndb/pst_file.h"
#include "store/file_problem.h"
#include "store/pst_session.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoStore = 3;
// 128 + the signal's number: 130 Ctrl-C, 143 SIGTERM, 129 SIGHUP.
constexpr int kExitInterruptedBase = 128;

constexpr const char* kUsage =
    "usage:\n"
    "  eml2pst convert [--quiet] [--strict] [--duplicates=keep] [--max-size SIZE]\n"
    "          [--json FILE|-] SOURCE_DIR OUTPUT.pst\n"
    "      convert a folder of .eml/.emlx files (and its subfolders) into one data file\n"
    "  eml2pst convert --mailboxes [--jobs N] [--shard K/N] [--quiet] [--strict]\n"
    "                  [--duplicates=keep] [--max-size SIZE] [--json FILE|-] ROOT_DIR\n"
    "                  OUTPUT_DIR\n"
    "      convert every immediate subfolder of ROOT_DIR into OUTPUT_DIR/<name>.pst\n"
    "  eml2pst verify [--json] FILE.pst  check a data file strictly (exit 0 sound, 1 faults,\n"
    "                                    3 unreadable)\n"
    "  eml2pst list [--json] FILE.pst    the folder tree with message counts\n"
    "  eml2pst scan FOLDER               what a conversion of FOLDER would queue\n"
    "  eml2pst summary merge [--json] [--strict] SUMMARY.json...\n"
    "      the summary of one run over all the runs whose JSON summaries are given\n"
    "  eml2pst --help | --version\n"
    "Options of convert: --quiet no progress and no summary; --json the summary as JSON into FILE\n"
    "(or - for stdout); --strict count messages converted only in part as failures; --jobs N\n"
    "convert N mailboxes at once (default: one per core); --shard K/N only the mailboxes whose\n"
    "place in the sorted list, counted from 0, is K modulo N (K from 0 to N-1);\n"
    "--duplicates=keep store a message file again although its folder in the data file already\n"
    "holds one read from the same bytes (by default it is counted as already there);\n"
    "--max-size SIZE the size a data file may reach (e.g. 20GB, 500MB; default 50GB, the largest\n"
    "Outlook opens without a change to its settings; none for no limit): the rest goes on in\n"
    "NAME (2).pst, NAME (3).pst, ...; a repeated run goes on in the last of them.\n"
    "Exit status of convert: 0 every message file converted, 1 some failed, a folder could not\n"
    "be converted, no message file was found, or (with --strict) some were converted only in\n"
    "part, 2 usage error, 3 no data file could be created or opened, 130 interrupted (143 on\n"
    "SIGTERM, 129 on SIGHUP). summary merge exits as convert would have over all the runs (a\n"
    "stopped run counts as 1), or 3 when a summary cannot be read.\n";

int Usage(const std::string& problem = "") {
    if (!problem.empty()) std::cerr << "eml2pst: " << problem << "\n";
    std::cerr << kUsage;
    return kExitUsage;
}

// A whole number from `text`, or nothing when it is not one.
std::optional<int> Number(const std::string& text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// A size such as 20GB, 500MB, 64K or 1048576 (units of 1024), "none" as 0; nothing when it is
// not one or is below 1 MB (an empty data file alone takes about 300 KB).
std::optional<uint64_t> SizeLimit(std::string text) {
    for (auto& c : text) c = char(std::toupper(static_cast<unsigned char>(c)));
    if (text == "NONE") return 0;
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data()) return std::nullopt;
    std::string unit(end, text.size() - size_t(end - text.data()));
    if (unit.size() == 2 && unit[1] == 'B') unit.pop_back();
    const std::string units = "KMGT";
    int shift = 0;
    if (!unit.empty()) {
        const size_t at = unit.size() == 1 ? units.find(unit[0]) : std::string::npos;
        if (at == std::string::npos && unit != "B") return std::nullopt;
        if (at != std::string::npos) shift = 10 * int(at + 1);
    }
    if (value > (UINT64_MAX >> shift)) return std::nullopt;
    value <<= shift;
    if (value < (uint64_t(1) << 20)) return std::nullopt;
    return value;
}

// The exit status a run's report gives, by the rules of the usage text.
int RunStatus(const engine::RunReport& report, bool strict) {
    if (report.Outcome() == engine::RunOutcome::NothingToConvert) return kExitSomeFailed;
    size_t attempted = 0, storeFailed = 0, notOpened = 0;
    for (const auto& f : report.folders) {
        if (f.pstPath.empty()) continue;
        ++attempted;
        storeFailed += f.storeFailed;
        notOpened += !f.storeOpened;
    }
    // A data file that was opened and then failed to be written still holds what was committed.
    if (attempted > 0 && notOpened == attempted) return kExitNoStore;
    if (strict && report.Warned() > 0) return kExitSomeFailed;
    const bool unread = !report.UnreadFolders().empty();
    return report.Failed() > 0 || storeFailed > 0 || unread ? kExitSomeFailed : kExitOk;
}

int Convert(const std::vector<std::string>& args) {
    cli::CliJob job;
    std::string jsonTarget;
    bool quiet = false, strict = false;
    std::optional<int> jobs, shard, shards;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--mailboxes") {
            job.single = false;
        } else if (args[i] == "--quiet") {
            quiet = true;
        } else if (args[i] == "--strict") {
            strict = true;
        } else if (args[i] == "--duplicates=keep" || args[i] == "--duplicates=skip") {
            job.keepDuplicates = args[i] == "--duplicates=keep";
        } else if (args[i] == "--json" && i + 1 < args.size()) {
            jsonTarget = args[++i];
        } else if (args[i] == "--max-size" && i + 1 < args.size()) {
            auto limit = SizeLimit(args[++i]);
            if (!limit) return Usage("--max-size takes a size of 1MB or more (e.g. 20GB) or none");
            job.maxSize = *limit;
        } else if (args[i] == "--jobs" && i + 1 < args.size()) {
            jobs = Number(args[++i]);
            if (!jobs || *jobs < 1) return Usage("--jobs takes a number of 1 or more");
        } else if (args[i] == "--shard" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            const size_t slash = v.find('/');
            if (slash != std::string::npos) {
                shard = Number(v.substr(0, slash));
                shards = Number(v.substr(slash + 1));
            }
            if (!shard || !shards || *shards < 1 || *shard < 0 || *shard >= *shards)
                return Usage("--shard takes K/N with N of 1 or more and K from 0 to N-1");
        } else if (args[i].rfind("--", 0) == 0) {
            return Usage("unknown option " + args[i]);
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) return Usage("convert takes a source and a target");
    if (job.single && (jobs || shards)) return Usage("--jobs and --shard go with --mailboxes");
    if (!fs::FolderExists(positional[0])) return Usage("no such folder: " + positional[0]);

    // With the summary as JSON on stdout, progress goes to stderr.
    std::ostream& progressOut = jsonTarget == "-" ? std::cerr : std::cout;
    const bool terminal = fs::IsTerminal(jsonTarget == "-" ? stderr : stdout);
    cli::ConsoleShell::CatchInterrupt();
    auto start = std::chrono::steady_clock::now();
    engine::RunReport report;
    std::string rootError;  // why the root of the mailboxes could not be listed
    bool emptyShard = false;
    if (job.single) {
        cli::ConsoleShell shell;
        job.source = positional[0];
        while (job.source.size() > 1 && job.source.back() == '/') job.source.pop_back();
        shell.savePath = positional[1];
        store::PstSessionFactory factory;
        job::frmMigateAll window(job, shell, factory);
        cli::ConsoleProgress progress(progressOut, terminal, quiet);
        window.events.Add(progress);
        shell.onInterrupt = [&window] { window.CmdStopMigration_Click(); };
        window.Show();
        window.CmdStartConversion_Click();
        report = std::move(window.report);
    } else {
        job.output = positional[1];
        if (!fs::FolderExists(job.output)) return Usage("no such output folder: " + job.output);
        job.rows = cli::SubfoldersOf(positional[0], rootError);
        if (shards) {
            const size_t all = job.rows.size();
            job.rows = cli::ShardOf(job.rows, *shard, *shards);
            // More shards than mailboxes is no fault of the data: this shard has nothing to do.
            emptyShard = rootError.empty() && job.rows.empty();
            if (emptyShard && !quiet)
                std::cerr << "eml2pst: shard " << *shard << "/" << *shards << " of "
                          << positional[0] << " holds none of its " << all << " mailboxes\n";
        }
        cli::MailboxesProgress progress(progressOut, terminal, quiet, int(job.rows.size()));
        report =
            cli::ConvertMailboxes(job, jobs ? *jobs : cli::DefaultJobs(job.rows.size()), progress);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (!rootError.empty()) {
        report.folders.push_back({});
        report.folders.back().source = positional[0];
        report.folders.back().outcome = engine::FolderOutcome::NothingToConvert;
        report.folders.back().unreadFolders.push_back({positional[0], rootError});
    }
    if (!jsonTarget.empty()) {
        std::string json = cli::JsonSummary(report, seconds);
        if (jsonTarget == "-") {
            std::cout << json;
        } else if (!(std::ofstream(fs::PathFromUtf8(jsonTarget)) << json)) {
            std::cerr << "eml2pst: the summary could not be written to " << jsonTarget << "\n";
        }
    }
    if (emptyShard) return kExitOk;
    const engine::RunOutcome outcome = report.Outcome();
    const std::string source = positional[0];
    if (outcome == engine::RunOutcome::NothingToConvert)
        std::cerr << "eml2pst: " << cli::TextSummary(report, source, seconds);
    else if (!quiet)
        progressOut << cli::TextSummary(report, source, seconds);
    if (cli::ConsoleShell::Interrupted()) return kExitInterruptedBase + fs::InterruptSignal();
    return RunStatus(report, strict);
}

// Reads the JSON summaries of several runs (the shards of one migration, say) and prints the
// summary of one run over them all.
int MergeSummaries(const std::vector<std::string>& args) {
    bool json = false, strict = false;
    std::vector<std::string> files;
    for (const auto& a : args) {
        if (a == "--json")
            json = true;
        else if (a == "--strict")
            strict = true;
        else if (a.rfind("--", 0) == 0)
            return Usage("unknown option " + a);
        else
            files.push_back(a);
    }
    if (files.empty()) return Usage("summary merge takes one or more JSON summaries");
    cli::ReadSummary whole;
    std::map<std::string, std::string> writtenBy;  // data file -> the summary that names it
    for (const auto& file : files) {
        std::ifstream in(fs::PathFromUtf8(file), std::ios::binary);
        std::string text;
        if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.is_open() || in.bad()) {
            std::cerr << "eml2pst: cannot read " << file << "\n";
            return kExitNoStore;
        }
        cli::ReadSummary part;
        try {
            part = cli::ParseSummary(text);
        } catch (const std::exception& e) {
            std::cerr << "eml2pst: cannot read " << file << ": " << e.what() << "\n";
            return kExitNoStore;
        }
        // Shards that overlap wrote the same data file twice.
        for (const auto& f : part.report.folders) {
            if (f.pstPath.empty()) continue;
            auto [it, added] = writtenBy.emplace(f.pstPath, file);
            if (!added)
                std::cerr << "eml2pst: " << f.pstPath << " is in " << it->second << " and in "
                          << file << "\n";
        }
        cli::MergeSummary(whole, std::move(part));
    }
    cli::OrderBySource(whole.report);
    if (json)
        std::cout << cli::JsonSummary(whole.report, whole.seconds, &whole.sizes);
    else
        std::cout << cli::TextSummary(whole.report, "the runs summarized", whole.seconds,
                                      &whole.sizes);
    // A run that was stopped did not convert everything, whatever else it says.
    const int status = RunStatus(whole.report, strict);
    return status == kExitOk && whole.report.Outcome() == engine::RunOutcome::Stopped
               ? kExitSomeFailed
               : status;
}

int Verify(const std::string& path, bool json) {
    auto cannotOpen = [&](const std::string& why) {
        std::cerr << "eml2pst: cannot open " << path << (why.empty() ? "" : ": " + why) << "\n";
        if (json)
            std::cout << "{\"file\": " << cli::JsonString(path)
                      << ", \"readable\": false, \"error\": " << cli::JsonString(why) << "}\n";
        return kExitNoStore;
    };
    if (!fs::FileExists(path)) return cannotOpen("");
    pst::messaging::StoreReport report;
    try {
        // A file that does not open as a data file at all is "cannot open", not "faulty".
        pst::ndb::PstFile::Open(fs::PathFromUtf8(path), pst::ndb::PstFile::Mode::ReadOnly);
        report = pst::messaging::VerifyStoreFile(fs::PathFromUtf8(path));
    } catch (const std::exception& e) {
        return cannotOpen(store::DescribeFailure(e, path, store::FileStep::kOpening));
    }
    if (json) {
        std::cout << "{\"file\": " << cli::JsonString(path)
                  << ", \"readable\": true, \"sound\": " << (report.Ok() ? "true" : "false")
                  << ", \"folders\": " << report.folders << ", \"messages\": " << report.messages
                  << ", \"problems\": [";
        for (size_t i = 0; i < report.errors.size(); ++i)
            std::cout << (i ? ", " : "") << cli::JsonString(report.errors[i]);
        std::cout << "]}\n";
    } else {
        for (const auto& e : report.errors) std::cout << e << "\n";
        std::cout << path << ": " << (report.Ok() ? "sound" : "faulty") << ", " << report.folders
                  << " folders, " << report.messages << " messages, " << report.errors.size()
                  << " problems\n";
    }
    return report.Ok() ? kExitOk : kExitSomeFailed;
}

void ListFolder(pst::messaging::MessageStore& s, pst::ndb::Nid folder, const std::string& indent) {
    for (const auto& child : s.Subfolders(folder)) {
        std::cout << indent << child.name << "  (" << child.contentCount << ")\n";
        ListFolder(s, child.nid, indent + "  ");
    }
}

// A folder and its subtree as JSON: name, messages, subfolders.
std::string FolderJson(pst::messaging::MessageStore& s, pst::ndb::Nid nid, const std::string& name,
                       uint32_t messages) {
    std::string j = "{\"name\": " + cli::JsonString(name) +
                    ", \"messages\": " + std::to_string(messages) + ", \"folders\": [";
    bool first = true;
    for (const auto& child : s.Subfolders(nid)) {
        j += (first ? "" : ", ") + FolderJson(s, child.nid, child.name, child.contentCount);
        first = false;
    }
    return j + "]}";
}

int List(const std::string& path, bool json) {
    try {
        auto s = pst::messaging::MessageStore::Open(fs::PathFromUtf8(path), true);
        auto top = s->GetFolderInfo(s->IpmSubtree());
        if (json) {
            std::cout << "{\"file\": " << cli::JsonString(path)
                      << ", \"store\": " << cli::JsonString(s->DisplayName()) << ", \"top\": "
                      << FolderJson(*s, s->IpmSubtree(), top.name, top.contentCount) << "}\n";
        } else {
            std::cout << s->DisplayName() << "\n  " << top.name << "  (" << top.contentCount
                      << ")\n";
            ListFolder(*s, s->IpmSubtree(), "    ");
        }
    } catch (const std::exception& e) {
        std::cerr << "eml2pst: cannot read " << path << ": "
                  << store::DescribeFailure(e, path, store::FileStep::kOpening) << "\n";
        return kExitNoStore;
    }
    return kExitOk;
}

int Scan(const std::string& folder) {
    cli::ConsoleShell shell;
    engine::ScanResult scan;
    engine::RunObserver quiet;
    int32_t fileCounter = 1, folderCounter = 0;
    std::string walked = folder;
    job::BuildMessageQueue(walked, "*.*", fileCounter, folderCounter, scan, quiet, shell);
    for (const auto& e : scan.folders) std::cout << e.key << "\t" << e.value << "\n";
    engine::SourceEntries entries;  // an mbox message as its file, ordinal and offset
    for (const auto& e : scan.messages)
        std::cout << e.key << "\t" << entries.Classify(e.value).shown << "\n";
    std::cout << (fileCounter - 1) << " files and " << scan.folders.Count()
              << " folders queued under " << walked << "\n";
    for (const auto& u : scan.unreadFolders)
        std::cerr << "eml2pst: cannot read " << u.file << ": " << u.reason << "\n";
    return scan.unreadFolders.empty() ? kExitOk : kExitSomeFailed;
}

}  // namespace

int main(int argc, char** argv) {
    fs::UseUtf8Console();
    std::vector<std::string> args = fs::Utf8Arguments(argc, argv);
    if (args.empty()) return Usage();
    const std::string command = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h") {
        std::cout << kUsage;
        return kExitOk;
    }
    if (command == "--version") {
        std::cout << "eml2pst " EML2PST_VERSION "\n";
        return kExitOk;
    }
    if (command == "convert") return Convert(rest);
    if (command == "summary" && !rest.empty() && rest[0] == "merge")
        return MergeSummaries(std::vector<std::string>(rest.begin() + 1, rest.end()));
    const bool json = !rest.empty() && rest[0] == "--json";
    if (json) rest.erase(rest.begin());
    if (command == "verify" && rest.size() == 1) return Verify(rest[0], json);
    if (command == "list" && rest.size() == 1) return List(rest[0], json);
    if (command == "scan" && rest.size() == 1) return Scan(rest[0]);
    return Usage("unknown command or wrong arguments");
}
