#include "store/pst_session.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "fs/utf8_path.h"
#include "mime/import.h"
#include "mime/mbox.h"
#include "mime/read_ahead.h"
#include "pst/messaging/errors.h"
#include "pst/messaging/folder_name.h"
#include "pst/messaging/message_store.h"
#include "pst/ndb/layout.h"
#include "store/file_problem.h"
#include "store/mbox_item.h"

namespace store {
namespace {

using pst::messaging::DefaultFolder;
using pst::messaging::MessageStore;
using pst::ndb::Nid;

constexpr std::string_view kNameBackslash = "\xEF\x81\x9C";  // U+F05C stands for "\" in paths

std::string NameFromPath(std::string piece) {
    for (size_t p; (p = piece.find(kNameBackslash)) != std::string::npos;)
        piece.replace(p, kNameBackslash.size(), "\\");
    return piece;
}

std::string PathPiece(std::string name) {
    for (size_t p = 0; (p = name.find('\\', p)) != std::string::npos; p += kNameBackslash.size())
        name.replace(p, 1, kNameBackslash);
    return name;
}

// A message file, or one message of an mbox file.
mime::ImportResult ImportSource(const std::string& path, const mime::ImportOptions& options) {
    if (auto item = MboxItem::Parse(path))
        return mime::ImportMboxMessage(item->path, item->offset, item->length, item->Shown(),
                                       options);
    return mime::ImportMessageFile(path, options);
}

// What every object of one session shares: the open store, or nothing after log-off.
struct Context {
    std::unique_ptr<MessageStore> store;
    std::string path;  // as given at log-on, for the descriptions of failures
    std::string logonName;
    std::unique_ptr<mime::ReadAhead> readAhead;
    // Why the last commit failed; the store is not written again once it is set.
    std::string writeFault;

    MessageStore& Store() {
        if (!writeFault.empty()) throw ComError(kErrWriteFault, writeFault);
        if (!store) throw ComError(kErrCallFailed, "The data file is closed.");
        return *store;
    }

    // Commits, or marks the store as not to be written again and throws. After a failed
    // commit the file holds its last committed state; the structures in memory may be
    // half-written, so they are never committed later.
    void CommitOrFault() {
        MessageStore& s = Store();
        try {
            s.Commit();
        } catch (const std::exception& e) {
            writeFault = DescribeFailure(e, path, FileStep::kUsing);
            throw ComError(kErrWriteFault, writeFault);
        }
    }
};

// Runs a call on the open store, turning its failure into a ComError that names the cause.
template <typename F>
auto Guarded(const Context& ctx, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const ComError&) {
        throw;
    } catch (const pst::messaging::FolderNameCollision& e) {
        throw ComError(kErrCollision, e.what());
    } catch (const std::exception& e) {
        throw ComError(kErrCallFailed, DescribeFailure(e, ctx.path, FileStep::kUsing));
    }
}

class PstFolder;

class PstFolders : public Folders {
  public:
    PstFolders(std::shared_ptr<Context> ctx, Nid nid) : ctx_(std::move(ctx)), nid_(nid) {}
    int Count() override {
        return Guarded(*ctx_, [&] { return int(ctx_->Store().SubfolderNids(nid_).size()); });
    }
    std::shared_ptr<Folder> Item(int index) override;
    std::shared_ptr<Folder> Add(const std::string& name, int kind) override;

  private:
    std::shared_ptr<Context> ctx_;
    Nid nid_;
};

class PstMessageObject : public MapiObject {
  public:
    explicit PstMessageObject(pst::messaging::MessageContent& content) : content_(content) {}
    void SetProperty(uint32_t tag, int32_t value) override {
        content_.props.Set(pst::PropertyValue::Int32(tag, value));
    }
    int32_t GetInt32(uint32_t tag, int32_t fallback) override {
        const pst::PropertyValue* v = content_.props.Find(tag);
        return v ? v->AsInt32() : fallback;
    }

  private:
    pst::messaging::MessageContent& content_;
};

class PstMail : public Mail {
  public:
    PstMail(std::shared_ptr<Context> ctx, Nid folder)
        : ctx_(std::move(ctx)), folder_(folder), object_(content_) {}
    void Import(const std::string& path, int) override {
        std::optional<mime::ImportResult> ahead;
        if (ctx_->readAhead) ahead = ctx_->readAhead->take(path);
        mime::ImportResult result = ahead ? std::move(*ahead) : ImportSource(path, {});
        // A failure seen ahead is retried here, in case it came from the reading thread.
        if (ahead && !result.ok) result = ImportSource(path, {});
        if (!result.ok) throw ComError(kErrInvalidMessage, result.error);
        content_ = std::move(result.content);
        warnings_ = std::move(result.warnings);
        digest_.assign(result.sourceDigest.begin(), result.sourceDigest.end());
        content_.props.named.push_back(
            {SourceDigestName(),
             pst::PropertyValue::Binary(pst::kPtypBinary, result.sourceDigest)});
    }
    std::vector<std::string> Warnings() const override { return warnings_; }
    std::string SourceDigest() const override { return digest_; }
    MapiObject& MAPIOBJECT() override { return object_; }
    bool WouldPassSize(uint64_t cap) override {
        return Guarded(*ctx_, [&] {
            MessageStore& s = ctx_->Store();
            const uint64_t need = MessageStore::AddedBytesBound(content_);
            // The file grows by whole allocation intervals; free space inside it is not counted.
            auto passes = [&](uint64_t pending) {
                const uint64_t grow = pending + need;
                const uint64_t interval = pst::ndb::kAMapInterval;
                return s.EndOfFile() + (grow + interval - 1) / interval * interval > cap;
            };
            if (!passes(s.PendingBytesBound())) return false;
            // Close to the cap: with the tables written, the file's end is exact.
            ctx_->CommitOrFault();
            return passes(0);
        });
    }
    void Save() override {
        if (saved_) return;
        Guarded(*ctx_, [&] { ctx_->Store().AddMessage(folder_, content_); });
        saved_ = true;
        // Stored content is freed by the thread that read it, whose memory it is.
        if (ctx_->readAhead) ctx_->readAhead->recycle(std::move(content_));
        // Committed here rather than inside the store, so that a failed commit is told apart
        // from a message that could not be written.
        if (ctx_->Store().MessagesSinceCommit() >= MessageStore::kDefaultAutoCommitInterval)
            ctx_->CommitOrFault();
    }

  private:
    std::shared_ptr<Context> ctx_;
    Nid folder_;
    pst::messaging::MessageContent content_;
    PstMessageObject object_;
    std::vector<std::string> warnings_;
    std::string digest_;
    bool saved_ = false;
};

class PstItems : public Items {
  public:
    PstItems(std::shared_ptr<Context> ctx, Nid nid) : ctx_(std::move(ctx)), nid_(nid) {}
    std::shared_ptr<Mail> Add(int) override { return std::make_shared<PstMail>(ctx_, nid_); }

  private:
    std::shared_ptr<Context> ctx_;
    Nid nid_;
};

class PstFolder : public Folder {
  public:
    PstFolder(std::shared_ptr<Context> ctx, Nid nid)
        : ctx_(ctx), nid_(nid), folders_(ctx, nid), items_(ctx, nid) {}
    std::string Name() override {
        return Guarded(*ctx_, [&] { return ctx_->Store().GetFolderInfo(nid_).name; });
    }
    Folders& SubFolders() override { return folders_; }
    Items& MailItems() override { return items_; }
    std::vector<std::string> SourceDigests() override {
        return Guarded(*ctx_, [&] {
            std::vector<std::string> out;
            for (auto& bytes : ctx_->Store().NamedBinaries(nid_, SourceDigestName()))
                out.emplace_back(bytes.begin(), bytes.end());
            return out;
        });
    }
    Nid nid() const { return nid_; }

  private:
    std::shared_ptr<Context> ctx_;
    Nid nid_;
    PstFolders folders_;
    PstItems items_;
};

std::shared_ptr<Folder> PstFolders::Item(int index) {
    return Guarded(*ctx_, [&]() -> std::shared_ptr<Folder> {
        auto children = ctx_->Store().SubfolderNids(nid_);
        if (index < 1 || size_t(index) > children.size())
            throw ComError(kErrNotFound, "No folder at position " + std::to_string(index) + ".");
        return std::make_shared<PstFolder>(ctx_, children[size_t(index - 1)]);
    });
}

std::shared_ptr<Folder> PstFolders::Add(const std::string& name, int) {
    return Guarded(*ctx_, [&]() -> std::shared_ptr<Folder> {
        Nid nid = ctx_->Store().CreateFolder(nid_, NameFromPath(name), "IPF.Note");
        return std::make_shared<PstFolder>(ctx_, nid);
    });
}

class PstStore : public Store {
  public:
    explicit PstStore(std::shared_ptr<Context> ctx) : ctx_(std::move(ctx)) {}
    EntryId EntryID() override {
        return Guarded(*ctx_, [&] { return ctx_->Store().EntryId(ctx_->Store().IpmSubtree()); });
    }
    void ValidateIPMTree() override {
        Guarded(*ctx_, [&] { ctx_->Store().ValidateIpmTree(); });
    }
    std::shared_ptr<Folder> GetDefaultFolder(int kind) override {
        return Guarded(*ctx_, [&]() -> std::shared_ptr<Folder> {
            DefaultFolder which =
                kind == kFolderSentMail       ? DefaultFolder::kSentItems
                : kind == kFolderDeletedItems ? DefaultFolder::kDeletedItems
                : kind == kFolderInbox
                    ? DefaultFolder::kInbox
                    : throw ComError(kErrNotFound, "Unknown default folder kind.");
            auto nid = ctx_->Store().GetDefaultFolder(which);
            if (!nid) throw ComError(kErrNotFound, "The store has no such default folder.");
            return std::make_shared<PstFolder>(ctx_, *nid);
        });
    }
    std::shared_ptr<Folder> IPMRootFolder() override {
        return Guarded(
            *ctx_, [&] { return std::make_shared<PstFolder>(ctx_, ctx_->Store().IpmSubtree()); });
    }

  private:
    std::shared_ptr<Context> ctx_;
};

class PstSession : public Session, public Stores {
  public:
    explicit PstSession(size_t readingThreads) : readingThreads_(readingThreads) {}

    std::shared_ptr<Store> LogonPstStore(const std::string& path, int,
                                         const std::string& displayName) override {
        if (ctx_->store)
            throw ComError(kErrCallFailed, "A data file is open in this session already.");
        const auto file = fs::PathFromUtf8(path);
        std::error_code ec;
        const bool existed = std::filesystem::exists(file, ec);
        const auto size = std::filesystem::file_size(file, ec);
        // A new data file is made, or an empty one written in place, only where the name itself
        // is the file: through a link it would land on (or fill) whatever the link names.
        std::error_code linkEc;
        if ((ec || size == 0) && std::filesystem::is_symlink(file, linkEc))
            throw ComError(kErrCannotOpen, path +
                                               " is a link to a file that is not a data file; no "
                                               "data file is written through it.");
        try {
            // An empty file is a new one that was never written; it is written in place, so a
            // read-only or locked empty file is refused like any other.
            ctx_->store = ec || size == 0 ? MessageStore::Create(file, displayName)
                                          : MessageStore::Open(file);
            ctx_->store->SetAutoCommitInterval(0);
        } catch (const std::exception& e) {
            const FileStep step = existed ? FileStep::kOpening : FileStep::kCreating;
            throw ComError(kErrCannotOpen, DescribeFailure(e, path, step));
        }
        ctx_->path = path;
        ctx_->logonName = displayName;
        ctx_->writeFault.clear();
        store_ = std::make_shared<PstStore>(ctx_);
        return store_;
    }

    std::shared_ptr<Store> GetStoreFromID(const EntryId& id) override {
        if (!store_ || id != store_->EntryID())
            throw ComError(kErrNotFound, "No store with that entry ID is open.");
        return store_;
    }
    Stores& GetStores() override { return *this; }

    std::shared_ptr<Folder> GetFolderFromPath(const std::string& path) override {
        return Guarded(*ctx_, [&]() -> std::shared_ptr<Folder> {
            MessageStore& s = ctx_->Store();
            if (path.rfind("\\\\", 0) != 0)
                throw ComError(kErrNotFound,
                               "A folder path starts with \\\\ and the store's name.");
            std::vector<std::string> pieces;
            size_t pos = 2;
            while (pos <= path.size()) {
                size_t end = path.find('\\', pos);
                if (end == std::string::npos) end = path.size();
                pieces.push_back(path.substr(pos, end - pos));
                pos = end + 1;
            }
            while (pieces.size() > 1 && pieces.back().empty()) pieces.pop_back();
            // The store answers to the name given at log-on and to its own, which differ when an
            // existing file was opened.
            const std::string storeName = pieces.empty() ? "" : NameFromPath(pieces[0]);
            if (pieces.empty() || (storeName != ctx_->logonName && storeName != s.DisplayName()))
                throw ComError(kErrNotFound, "Folder \"" + (pieces.empty() ? "" : pieces[0]) +
                                                 "\" does not exist");
            Nid nid = s.IpmSubtree();
            for (size_t i = 1; i < pieces.size(); ++i) {
                // The store's name index (letter case ignored), not a scan of the children
                // reading each one's properties: this runs for every message.
                std::optional<Nid> next = s.FindSubfolder(nid, NameFromPath(pieces[i]));
                if (!next)
                    throw ComError(kErrNotFound, "Folder \"" + pieces[i] + "\" does not exist");
                nid = *next;
            }
            return std::make_shared<PstFolder>(ctx_, nid);
        });
    }

    // Up to 256 messages (64 MB at most) ahead: enough for the readers to go on through a
    // commit's flushes, which the small messages of an ordinary mailbox finished 11% sooner for
    // than with 32 (4 MB more memory). Later lists go on the end of the first: the readers never
    // stop between them.
    void ExpectImports(std::vector<std::string> paths) override {
        if (ctx_->readAhead) return ctx_->readAhead->append(std::move(paths));
        ctx_->readAhead = std::make_unique<mime::ReadAhead>(
            std::move(paths), 256, mime::ImportOptions{}, 64u << 20, ImportSource, readingThreads_);
    }

    std::map<std::string, std::vector<std::string>> SourceDigestsOf(
        const std::string& path) override {
        std::map<std::string, std::vector<std::string>> out;
        try {
            auto s = MessageStore::Open(fs::PathFromUtf8(path), true);
            std::vector<std::pair<std::string, Nid>> pending{{"", s->IpmSubtree()}};
            while (!pending.empty()) {
                auto [key, nid] = pending.back();
                pending.pop_back();
                for (const auto& child : s->Subfolders(nid))
                    pending.emplace_back((key.empty() ? "" : key + "\\") + PathPiece(child.name),
                                         child.nid);
                for (auto& bytes : s->NamedBinaries(nid, SourceDigestName()))
                    out[key].emplace_back(bytes.begin(), bytes.end());
            }
        } catch (const std::exception& e) {
            throw ComError(kErrCannotOpen, DescribeFailure(e, path, FileStep::kOpening));
        }
        return out;
    }

    void Logoff() override {
        ctx_->readAhead.reset();
        if (!ctx_->store) return;
        store_.reset();
        if (!ctx_->writeFault.empty()) {
            // Dropped without a commit: the file stays as of its last good one.
            ctx_->store.reset();
            throw ComError(kErrWriteFault, ctx_->writeFault);
        }
        try {
            ctx_->CommitOrFault();
        } catch (...) {
            ctx_->store.reset();
            throw;
        }
        std::unique_ptr<MessageStore> closing = std::move(ctx_->store);
        Guarded(*ctx_, [&] { closing->Close(); });
    }

    int UncommittedMessages() override {
        return ctx_->store && ctx_->writeFault.empty() ? int(ctx_->store->MessagesSinceCommit())
                                                       : 0;
    }

  private:
    std::shared_ptr<Context> ctx_ = std::make_shared<Context>();
    size_t readingThreads_;
    std::shared_ptr<PstStore> store_;
};

class PstMapiUtils : public MapiUtils {
  public:
    void HrSetOneProp(MapiObject& object, uint32_t tag, int32_t value, bool) override {
        object.SetProperty(tag, value);
    }
};

}  // namespace

const pst::messaging::PropertyName& SourceDigestName() {
    static const pst::messaging::PropertyName name{{0x52, 0x3A, 0x1F, 0x6D, 0x4E, 0x8C, 0x7A, 0x4B,
                                                    0x9E, 0x21, 0x5F, 0x0C, 0x2D, 0x7B, 0x9A, 0x13},
                                                   std::u16string(u"SourceFileSha256")};
    return name;
}

size_t DefaultReadingThreads() {
    if (const char* set = std::getenv("EML2PST_READING_THREADS"); set && std::atoi(set) > 0)
        return size_t(std::atoi(set));
    // Two on two cores all the same: the storing thread waits for the disk now and then, and
    // two readers finished 6-7% sooner there than one (for 15% more processor time).
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 2 ? cores - 1 : cores == 2 ? 2 : 1;
}

PstSessionFactory::PstSessionFactory(size_t readingThreads)
    : readingThreads_(readingThreads > 0 ? readingThreads : DefaultReadingThreads()) {}

std::shared_ptr<Session> PstSessionFactory::CreateSession() {
    return std::make_shared<PstSession>(readingThreads_);
}
std::shared_ptr<MapiUtils> PstSessionFactory::CreateMapiUtils() {
    return std::make_shared<PstMapiUtils>();
}

}  // namespace store
