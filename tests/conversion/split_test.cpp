// A data file that reaches its size limit goes on in "NAME (2).pst", "NAME (3).pst", ...
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/store_paths.h"
#include "tests/conversion/conversion_fixture.h"

namespace conversiontest {
namespace {

constexpr uint64_t kLimit = 1536 * 1024;

// A message of about `kb` KB whose body does not repeat.
std::string Sized(const std::string& subject, int kb) {
    std::string body;
    for (int i = 0; body.size() < size_t(kb) * 1024; ++i)
        body += subject + " line " + std::to_string(i * 7919 % 100003) + "\r\n";
    return Message(subject).substr(0, Message(subject).find("\r\n\r\n") + 4) + body;
}

class SplitTest : public FolderMappingTest {
  protected:
    // Every file of the series, in order.
    std::vector<std::string> Series() const {
        std::vector<std::string> files{Pst("map.pst")};
        while (std::filesystem::exists(
            fs::PathFromUtf8(engine::ContinuationPath(files[0], int(files.size()) + 1))))
            files.push_back(engine::ContinuationPath(files[0], int(files.size()) + 1));
        return files;
    }
    // The subjects of each folder over the whole series.
    Tree SeriesTree() const {
        Tree all;
        for (const auto& file : Series())
            for (auto& [folder, subjects] : ReadTree(file))
                all[folder].insert(all[folder].end(), subjects.begin(), subjects.end());
        for (auto& [folder, subjects] : all) std::sort(subjects.begin(), subjects.end());
        return all;
    }
};

TEST_F(SplitTest, AFullFileGoesOnInTheNextAndARepeatStoresNothingAgain) {
    Tree want;
    for (int i = 0; i < 40; ++i) {
        const std::string s = "in" + std::to_string(100 + i);
        src.file("Inbox/" + s + ".eml", Sized(s, 25));
        want["Inbox"].push_back(s);
    }
    for (int i = 0; i < 30; ++i) {
        const std::string s = "deep" + std::to_string(100 + i);
        src.file("Work/Deep/" + s + ".eml", Sized(s, 25));
        want["Work\\Deep"].push_back(s);
    }
    job.maxSize = kLimit;
    Tree got = Convert(src.str());
    const auto files = Series();
    ASSERT_GE(files.size(), 3u);
    for (const auto& f : files)
        EXPECT_LE(std::filesystem::file_size(fs::PathFromUtf8(f)), kLimit) << f;
    const auto& result = window->report.folders.at(0);
    EXPECT_EQ(result.continuations, std::vector<std::string>(files.begin() + 1, files.end()));
    EXPECT_EQ(window->report.Converted(), 70);
    // Each message once, in its own folder, over the series; a continuation holds the folders
    // its messages needed.
    Tree all = SeriesTree();
    EXPECT_EQ(all["Inbox"], want["Inbox"]);
    EXPECT_EQ(all["Work\\Deep"], want["Work\\Deep"]);
    EXPECT_EQ(ReadTree(files.back()).count("Work\\Deep"), 1u);
    EXPECT_EQ(ReadTree(files.back()).count("Inbox"), 1u);
    EXPECT_NE(shell.boxes().back().text.find("Data files: " + files[0] + ", " + files[1]),
              std::string::npos)
        << shell.boxes().back().text;

    // Repeated, with one new message: only that one is stored, in the last file.
    src.file("Inbox/new.eml", Sized("new", 25));
    window.reset();
    Convert(src.str());
    EXPECT_EQ(window->report.Converted(), 1);
    EXPECT_EQ(window->report.AlreadyStored(), 70);
    EXPECT_GE(Series().size(), files.size());
    want["Inbox"].push_back("new");
    std::sort(want["Inbox"].begin(), want["Inbox"].end());
    EXPECT_EQ(SeriesTree()["Inbox"], want["Inbox"]);
}

TEST_F(SplitTest, AMessageLargerThanTheLimitGetsAFileOfItsOwn) {
    src.file("Inbox/a.eml", Sized("a", 20));
    src.file("Inbox/b.eml", Sized("b", 2000));
    src.file("Inbox/c.eml", Sized("c", 20));
    job.maxSize = kLimit;
    Convert(src.str());
    EXPECT_EQ(window->report.Converted(), 3);
    // Whatever the order of the walk, the large one shares no file; the others keep the limit.
    std::vector<std::string> all;
    for (const auto& file : Series()) {
        auto inbox = ReadTree(file)["Inbox"];
        all.insert(all.end(), inbox.begin(), inbox.end());
        if (std::count(inbox.begin(), inbox.end(), "b"))
            EXPECT_EQ(inbox.size(), 1u) << file;
        else
            EXPECT_LE(std::filesystem::file_size(fs::PathFromUtf8(file)), kLimit) << file;
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (std::vector<std::string>{"a", "b", "c"}));
}

}  // namespace
}  // namespace conversiontest
