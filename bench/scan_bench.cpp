// The message queue scan over a generated tree: files per second and peak memory, with yields
// that cost nothing and with yields that cost what one pass of the toolkit's event loop costs
// when nothing is pending (about 4 microseconds).
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "engine/keyed_queue.h"
#include "job/message_queue_scan.h"

namespace {

class TimedShell : public ui::Shell {
  public:
    explicit TimedShell(std::chrono::nanoseconds cost) : cost_(cost) {}
    void Yield() override {
        ++yields;
        if (cost_.count() == 0) return;
        auto until = std::chrono::steady_clock::now() + cost_;
        while (std::chrono::steady_clock::now() < until) {
        }
    }
    ui::MsgBoxResult MessageBox(const std::string&, const std::string&, ui::MsgBoxStyle) override {
        return ui::MsgBoxResult::Ok;
    }
    std::optional<std::string> SaveFileDialog(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    long yields = 0;

  private:
    std::chrono::nanoseconds cost_;
};

void MakeTree(const std::filesystem::path& root, int folders, int files) {
    int perFolder = files / folders;
    for (int f = 0; f < folders; ++f) {
        // Two levels: 40 top folders, each holding its share of the rest.
        auto dir = root / ("top" + std::to_string(f % 40)) / ("box" + std::to_string(f));
        std::filesystem::create_directories(dir);
        for (int i = 0; i < perFolder; ++i)
            std::ofstream(dir / ("m" + std::to_string(i) + ".eml")) << "Subject: x\r\n\r\nbody\r\n";
    }
}

void Run(const std::string& root, std::chrono::nanoseconds cost, const char* label) {
    TimedShell shell(cost);
    engine::ScanResult scan;
    engine::RunObserver quiet;
    int32_t fileCounter = 1, folderCounter = 0;
    std::string folder = root;
    auto start = std::chrono::steady_clock::now();
    job::BuildMessageQueue(folder, "*.*", fileCounter, folderCounter, scan, quiet, shell);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::cout << label << ": " << (fileCounter - 1) << " files, " << scan.folders.Count()
              << " folders in " << seconds << " s = " << long((fileCounter - 1) / seconds)
              << " files/s, " << shell.yields << " yields, peak RSS " << usage.ru_maxrss / 1024
              << " MiB\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path root =
        argc > 1 ? argv[1] : std::filesystem::temp_directory_path() / "eml2pst-scan-bench";
    bool made = !std::filesystem::exists(root);
    if (made) MakeTree(root, 2000, 100000);
    Run(root.string(), std::chrono::nanoseconds(0), "yields free   ");
    Run(root.string(), std::chrono::microseconds(4), "yields 4 us  ");
    Run(root.string(), std::chrono::nanoseconds(0), "yields free   ");
    if (made && argc <= 1) std::filesystem::remove_all(root);
    return 0;
}
