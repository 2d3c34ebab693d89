#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "pst/ltp/property_context.h"
#include "pst/ltp/table_context.h"
#include "pst/messaging/message_store.h"

namespace pst::messaging {

// A folder as a session holds it: its PC and the tables it has touched, open until Commit()
// writes what changed. The subnode maps live here because the PC and TCs bind to them.
struct MessageStore::Folder {
    Nid nid = 0;
    Nid parent = 0;
    ndb::SubnodeMap pcSubnodes;
    std::unique_ptr<ltp::PropertyContext> pc;
    bool pcDirty = false;

    ndb::SubnodeMap hierarchySubnodes;
    std::unique_ptr<ltp::TableContext> hierarchy;
    bool hierarchyDirty = false;

    ndb::SubnodeMap contentsSubnodes;
    std::unique_ptr<ltp::TableContext> contents;
    bool contentsDirty = false;

    // The row versions of the tables were taken into the store's counter (once a session).
    bool hierarchyVersionsNoted = false;
    bool contentsVersionsNoted = false;

    // Subfolders by folded name, filled on first use from the hierarchy table.
    std::optional<std::map<std::u16string, Nid>> children;
};

}  // namespace pst::messaging
