#pragma once

#include <cstdint>
#include <vector>

namespace pst::messaging {

// Column tags of the tables a store holds, as a new data file defines them. Every list starts
// with the row id and row version columns every table carries.
const std::vector<uint32_t>& HierarchyColumns();
const std::vector<uint32_t>& ContentsColumns();
const std::vector<uint32_t>& AssocContentsColumns();
const std::vector<uint32_t>& SearchContentsColumns();
const std::vector<uint32_t>& RecipientColumns();
const std::vector<uint32_t>& AttachmentColumns();
const std::vector<uint32_t>& ReceiveFolderColumns();
const std::vector<uint32_t>& OutgoingQueueColumns();
// Three further tables of a new data file (NIDs 0x6B6, 0x6D7, 0x6F8).
const std::vector<uint32_t>& Table6B6Columns();
const std::vector<uint32_t>& Table6D7Columns();
const std::vector<uint32_t>& Table6F8Columns();

}  // namespace pst::messaging
