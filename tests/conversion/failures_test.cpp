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
        return std::make_shared<FailingSession>(PstSessionFactory::CreateSession(), failAt_,
                                                &logoffs);
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
    // Success is not claimed for a run that lost files.
    EXPECT_EQ(text.rfind("Converted with failures.\r\nOpen Converted PST file in Outlook", 0), 0u);
    EXPECT_NE(text.find("1 message file(s) converted, 2 failed."), std::string::npos);
    EXPECT_NE(text.find("Failed: " + fs::Utf8FromPath(src.path() / "empty.eml")),
              std::string::npos);
}

TEST_F(ConversionTest, AStoreThatCannotBeOpenedIsReportedWithItsCauseAndTheRunGoesOn) {
    src.file("One/a.eml", Message("a"));
    src.file("Two/b.eml", Message("b"));
    job.single = false;
    job.output = fs::Utf8FromPath(out / "missing-folder");
    job.rows = {{true, "One", fs::Utf8FromPath(src.path() / "One")},
                {true, "Two", fs::Utf8FromPath(src.path() / "Two")}};
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
    EXPECT_NE(
        shell.boxes().back().text.find("Not converted: " + fs::Utf8FromPath(src.path() / "One")),
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
    EXPECT_NO_THROW(pst::messaging::MessageStore::Open(out / "locked.pst")->Close());
}

}  // namespace
}  // namespace conversiontest

namespace conversiontest {
namespace {

// A store whose folder lookups below the top always fail and whose folder creation fails too.
class NoFoldersSession : public store::Session {
  public:
    explicit NoFoldersSession(std::shared_ptr<store::Session> real) : real_(std::move(real)) {}
    std::shared_ptr<store::Store> LogonPstStore(const std::string& p, int f,
                                                const std::string& n) override {
        name_ = n;
        return real_->LogonPstStore(p, f, n);
    }
    std::shared_ptr<store::Store> GetStoreFromID(const store::EntryId& id) override {
        return real_->GetStoreFromID(id);
    }
    store::Stores& GetStores() override { return real_->GetStores(); }
    std::shared_ptr<store::Folder> GetFolderFromPath(const std::string& path) override {
        ++lookups;
        if (path != "\\\\" + name_)
            throw store::ComError(store::kErrNotFound, "Folder \"x\" does not exist");
        return std::make_shared<Unwritable>(real_->GetFolderFromPath(path));
    }
    void Logoff() override { real_->Logoff(); }
    int lookups = 0;

  private:
    struct NoAdd : store::Folders {
        int Count() override { return 0; }
        std::shared_ptr<store::Folder> Item(int) override {
            throw store::ComError(store::kErrNotFound, "none");
        }
        std::shared_ptr<store::Folder> Add(const std::string&, int) override {
            throw store::ComError(store::kErrCallFailed, "cannot create folders");
        }
    };
    struct Unwritable : store::Folder {
        explicit Unwritable(std::shared_ptr<store::Folder> real) : real_(std::move(real)) {}
        std::string Name() override { return real_->Name(); }
        store::Folders& SubFolders() override { return none_; }
        store::Items& MailItems() override { return real_->MailItems(); }
        std::shared_ptr<store::Folder> real_;
        NoAdd none_;
    };
    std::shared_ptr<store::Session> real_;
    std::string name_;
};

class NoFoldersFactory : public store::PstSessionFactory {
  public:
    std::shared_ptr<store::Session> CreateSession() override {
        session = std::make_shared<NoFoldersSession>(PstSessionFactory::CreateSession());
        return session;
    }
    std::shared_ptr<NoFoldersSession> session;
};

TEST_F(ConversionTest, MissingParentsAreTriedOncePerLevelThenGivenUp) {
    auto f = std::make_unique<NoFoldersFactory>();
    NoFoldersFactory& factoryRef = *f;
    factory = std::move(f);
    src.file("a/b/c/d/deep.eml", Message("deep"));
    src.file("top.eml", Message("top"));
    job.source = src.str();
    shell.AnswerSave(Pst("nofolders.pst"));
    Window().CmdStartConversion_Click();
    // Four levels of folders, each tried a bounded number of times: the run ends.
    EXPECT_LT(factoryRef.session->lookups, 60);
    EXPECT_EQ(window->report.Converted(), 1);
    ASSERT_EQ(window->report.failures.size(), 1u);
    EXPECT_EQ(window->report.failures[0].reason, "cannot create folders");
}

TEST_F(ConversionTest, FolderNumbersInTheCaptionCountEveryRow) {
    for (int i = 1; i <= 6; ++i)
        src.file("m" + std::to_string(i) + "/a.eml", Message("r" + std::to_string(i)));
    job.single = false;
    job.output = out.str();
    for (int i = 1; i <= 6; ++i)
        job.rows.push_back({i == 2 || i == 5, "m" + std::to_string(i),
                            fs::Utf8FromPath(src.path() / ("m" + std::to_string(i)))});
    std::vector<std::string> captions;
    shell.EveryYield([&] {
        if (window && (captions.empty() || captions.back() != window->controls.Caption))
            captions.push_back(window->controls.Caption);
    });
    Window().CmdStartConversion_Click();
    EXPECT_NE(std::find(captions.begin(), captions.end(), "Converting 2 of 6 Folders"),
              captions.end());
    EXPECT_EQ(window->controls.Caption, "Converting 5 of 6 Folders");
    EXPECT_TRUE(std::filesystem::exists(out / "m2.pst"));
    EXPECT_FALSE(std::filesystem::exists(out / "m3.pst"));
}

}  // namespace
}  // namespace conversiontest
