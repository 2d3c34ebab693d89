#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "store/com_error.h"

// The message-store object model the conversion engine calls. Every call may throw ComError.
namespace store {

class Folder;
class Mail;

// Folder kinds as the engine passes them (default folder kinds and new-folder kinds).
constexpr int kFolderDeletedItems = 3;
constexpr int kFolderSentMail = 5;
constexpr int kFolderInbox = 6;
constexpr int kMailItem = 0;
constexpr int kPstFormatUnicode = 1;
constexpr int kImportRfc822 = 1024;

using EntryId = std::vector<uint8_t>;

class Folders {
  public:
    virtual ~Folders() = default;
    virtual int Count() = 0;
    // 1-based, as the collection enumerates.
    virtual std::shared_ptr<Folder> Item(int index) = 0;
    virtual std::shared_ptr<Folder> Add(const std::string& name, int kind) = 0;
};

class Items {
  public:
    virtual ~Items() = default;
    virtual std::shared_ptr<Mail> Add(int kind) = 0;
};

class Folder {
  public:
    virtual ~Folder() = default;
    virtual std::string Name() = 0;
    virtual Folders& SubFolders() = 0;  // the object model's "Folders"
    virtual Items& MailItems() = 0;     // the object model's "Items"
    // The source digests (see Mail::SourceDigest) of the messages this folder holds; messages
    // stored without one are left out.
    virtual std::vector<std::string> SourceDigests() { return {}; }
};

// The underlying message object that property writes go to.
class MapiObject {
  public:
    virtual ~MapiObject() = default;
    virtual void SetProperty(uint32_t tag, int32_t value) = 0;
    virtual int32_t GetInt32(uint32_t tag, int32_t fallback) = 0;
};

class Mail {
  public:
    virtual ~Mail() = default;
    // Fills the message from a message file read as an Internet message, or from one message
    // of an mbox file named by MboxItem::Locator().
    virtual void Import(const std::string& path, int format) = 0;
    // What the last import could take only in part (a missing part of a split file, a part that
    // could not be decoded); empty when the message is whole.
    virtual std::vector<std::string> Warnings() const { return {}; }
    // The digest of the message file's bytes the last import read (32 bytes of SHA-256, stored
    // with the message when it is saved); empty when this object model keeps none.
    virtual std::string SourceDigest() const { return {}; }
    virtual MapiObject& MAPIOBJECT() = 0;
    virtual void Save() = 0;
    // Whether saving the imported message would take the data file past `cap` bytes. Commits
    // what is saved so far when it needs to know exactly (a failed commit throws as Save()
    // does). False when this object model cannot tell.
    virtual bool WouldPassSize(uint64_t cap) {
        (void)cap;
        return false;
    }
};

class Store {
  public:
    virtual ~Store() = default;
    virtual EntryId EntryID() = 0;
    virtual void ValidateIPMTree() = 0;
    virtual std::shared_ptr<Folder> GetDefaultFolder(int kind) = 0;
    virtual std::shared_ptr<Folder> IPMRootFolder() = 0;
};

class Stores {
  public:
    virtual ~Stores() = default;
    virtual std::shared_ptr<Store> GetStoreFromID(const EntryId& id) = 0;
};

class Session {
  public:
    virtual ~Session() = default;
    // Creates the data file at `path` when it is absent (or empty), opens it, and names its
    // store `displayName` when it is new.
    virtual std::shared_ptr<Store> LogonPstStore(const std::string& path, int format,
                                                 const std::string& displayName) = 0;
    virtual std::shared_ptr<Store> GetStoreFromID(const EntryId& id) = 0;
    virtual Stores& GetStores() = 0;  // the object model's "Stores"
    // "\\" + display name, then "\" + each folder name; a trailing separator is tolerated. A
    // missing level fails with the description: Folder "<name>" does not exist
    virtual std::shared_ptr<Folder> GetFolderFromPath(const std::string& path) = 0;
    // Commits and closes the store and releases the file.
    virtual void Logoff() = 0;
    // Messages saved since the last commit: they are on the disk only once a commit has
    // written them (at the latest at Logoff). A commit that fails throws ComError with
    // kErrWriteFault from the Save or Logoff that made it; those messages are then lost.
    virtual int UncommittedMessages() { return 0; }
    // The message files about to be imported, in order, after those given before: a session
    // may read them ahead while it stores the ones before. Only a hint; imports of other files
    // work as ever.
    virtual void ExpectImports(std::vector<std::string> paths) { (void)paths; }
    // The source digests (see Mail::SourceDigest) of every folder of another data file, by the
    // folder's path below the top of its folder tree (names joined with "\", a "\" in a name
    // given as U+F05C; "" for the top's own messages), read without changing that file.
    virtual std::map<std::string, std::vector<std::string>> SourceDigestsOf(
        const std::string& path) {
        (void)path;
        return {};
    }
};

class MapiUtils {
  public:
    virtual ~MapiUtils() = default;
    virtual void HrSetOneProp(MapiObject& object, uint32_t tag, int32_t value, bool save) = 0;
};

// Makes the outside objects; tests inject one that fails at a chosen call.
class SessionFactory {
  public:
    virtual ~SessionFactory() = default;
    virtual std::shared_ptr<Session> CreateSession() = 0;
    virtual std::shared_ptr<MapiUtils> CreateMapiUtils() = 0;
};

}  // namespace store
