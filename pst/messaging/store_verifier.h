#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "pst/ndb/pst_file.h"

namespace pst::messaging {

struct StoreReport {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;  // tolerated oddities of the node database
    size_t folders = 0;
    size_t messages = 0;
    bool Ok() const { return errors.empty(); }
};

// Checks the messaging rules on top of the node database: the nodes every store has, the
// store's entries, the name-to-id map's buckets, each folder's nodes, counts and row in its
// parent, each message's row, required properties, recipient table and attachments.
// Reports what it finds instead of stopping at the first fault.
StoreReport VerifyStore(const ndb::PstFile& file);

// The same rules on what adding messages and folders reads and rewrites: the store, the
// name-to-id map, templates, every folder with its tables and place in the tree. Messages
// already stored are left out, so the cost follows the folders, not the file's size.
StoreReport VerifyStoreForAdding(const ndb::PstFile& file);

// The node-database checks, then (when the file opens) VerifyStore(); NDB faults come first,
// prefixed "ndb: ".
StoreReport VerifyStoreFile(const std::filesystem::path& path);

}  // namespace pst::messaging
