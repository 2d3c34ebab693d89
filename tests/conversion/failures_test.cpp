#include "conversion_fixture.h"

namespace conversiontest {
namespace {

using Subjects = std::vector<std::string>;

// The real store, failing at one chosen call of the store object.
class FailingStore : public store::Store {
public:
    FailingStore(std::shared_ptr<store::Store> real, std::string failAt)
        : real_(std::move(real)), failAt_(std::move(failAt)) {}
    store::EntryId EntryID() override { return real_->EntryID(); }
    void ValidateIPMTree() override {
        if (failAt_ == "ValidateIPMTree") throw store::ComError(store::kErrCallFailed, "disk full");
        real_->ValidateIPMTree();
    }
    std::shared_ptr<store::Folder> GetDefaultFolder(int kind) override {
        return real_->GetDefaultFolder(kind);
    }
    std::shared_ptr<store::Folder> IPMRootFolder() override { return real_->IPMRootFolder(); }

private:
    std::shared_ptr<store::Store> real_;
    std::string failAt_;
};

class FailingSession : public store::Session {
public:
    FailingSession(std::shared_ptr<store::Session> real, std::string failAt, int* logoffs)
        : real_(std::move(real)), failAt_(std::move(failAt)), logoffs_(logoffs) {}
    std::shared_ptr<store::Store> LogonPstStore(const std::string& path, int format,
                                                const std::string& name) override {
        return std::make_shared<FailingStore>(real_->LogonPstStore(path, format, name), failAt_);
    }
    std::shared_ptr<store::Store> GetStoreFromID(const store::EntryId& id) override {
        return real_->GetStoreFromID(id);
    }
    store::Stores& GetStores() override { return real_->GetStores(); }
    std::shared_ptr<store::Folder> GetFolderFromPath(const std::string& path) override {
        return real_->GetFolderFromPath(path);
    }
    void Logoff() override {
        ++*logoffs_;
        real_->Logoff();
    }

private:
    std::shared_ptr<store::Session> real_;
    std::string failAt_;
    int* logoffs_;
};

class FailingFactory : public store::PstSessionFactory {
public:
    explicit FailingFactory(std::string failAt) : failAt_(std::move(failAt)) {}
    std::shared_ptr<store::Session> CreateSession() override {
        return std::make_shared<FailingSession>(PstSessionFactory::CreateSession(), failAt_, &logoffs);
    }
    int logoffs = 0;

private:
    std::string failAt_;
};

TEST_F(ConversionTest, FilesThatAreNoMessagesAreReportedAndNotStored) {
    src.file("good.eml", Message("good"));
    src.file("empty.eml", "");
    src.file("binary.eml", std::string("\x00\x01\x02\xff\xfe\x00\x10", 7));
    job.source = src.str();
    shell.AnswerSave(Pst("bad.pst"));
    Window().CmdStartConversion_Click();
    EXPECT_EQ(ReadTree(Pst("bad.pst"))[""], Subjects{"good"});
    EXPECT_EQ(window->report.Converted(), 1);
    EXPECT_EQ(window->report.Failed(), 2);
    const std::string& text = shell.boxes().back().text;
    EXPECT_EQ(shell.boxes().back().title, "Completed");
    EXPECT_EQ(text.rfind("EML Messages Converted Successfully.\r\n", 0), 0u);
    EXPECT_NE(text.find("1 message file(s) converted, 2 failed."), std::string::npos);
    EXPECT_NE(text.find("Failed: " + (src.path() / "empty.eml").string()), std::string::npos);
}

TEST_F(ConversionTest, AStoreThatCannotBeOpenedIsReportedWithItsCauseAndTheRunGoesOn) {
    src.file("One/a.eml", Message("a"));
    src.file("Two/b.eml", Message("b"));
    job.single = false;
    job.output = out.str() + "/missing-folder";
    job.rows = {{true, "One", (src.path() / "One").string()},
                {true, "Two", (src.path() / "Two").string()}};
    Window().CmdStartConversion_Click();
    int errors = 0;
    for (const auto& b : shell.boxes()) {
        if (b.title != "Outlook Error") continue;
        ++errors;
        EXPECT_EQ(b.text.rfind("Outlook Session Creation Error !\r\n", 0), 0u);
        EXPECT_NE(b.text.find("\r\nCause: "), std::string::npos);
    }
    EXPECT_EQ(errors, 2);
    EXPECT_EQ(window->report.FoldersNotConverted().size(), 2u);
    EXPECT_NE(shell.boxes().back().text.find("Not converted: " + (src.path() / "One").string()),
              std::string::npos);
}

TEST_F(ConversionTest, AStoreFailureAfterLogOnReleasesTheFile) {
    auto failing = std::make_unique<FailingFactory>("ValidateIPMTree");
    FailingFactory& f = *failing;
    factory = std::move(failing);
    src.file("a.eml", Message("a"));
    job.source = src.str();
    shell.AnswerSave(Pst("locked.pst"));
    Window().CmdStartConversion_Click();
    EXPECT_EQ(f.logoffs, 1);
    EXPECT_NE(shell.boxes()[0].text.find("Cause: disk full"), std::string::npos);
    // Nobody holds the file any more: it opens for writing.
    EXPECT_NO_THROW(pst::messaging::MessageStore::Open(Pst("locked.pst"))->close());
}

}  // namespace
}  // namespace conversiontest
