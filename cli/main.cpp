// eml2pst: the command-line front end.
#include <cstring>
#include <iostream>
#include <string>

#include "cli/console_shell.h"
#include "engine/keyed_queue.h"
#include "job/message_queue_scan.h"

namespace {

int Usage() {
    std::cerr << "usage: eml2pst scan FOLDER\n"
                 "  scan   walk FOLDER and its subfolders and list what a conversion would queue\n";
    return 2;
}

int Scan(const std::string& folder) {
    cli::ConsoleShell shell;
    ui::Label count;
    int32_t fileCounter = 1, folderCounter = 0;
    std::string walked = folder;
    job::BuildMessageQueue(walked, "*.*", fileCounter, folderCounter, count, shell);
    for (const auto& e : engine::FolderQueue()) std::cout << e.key << "\t" << e.value << "\n";
    for (const auto& e : engine::MessageQueue()) std::cout << e.key << "\t" << e.value << "\n";
    std::cout << (fileCounter - 1) << " files and " << engine::FolderQueue().Count()
              << " folders queued under " << walked << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "scan") == 0) return Scan(argv[2]);
    return Usage();
}
