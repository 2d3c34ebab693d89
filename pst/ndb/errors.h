#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pst::ndb {

// Any failure of the node database: unreadable or damaged files, refused formats, misuse.
// The message names the file or item and the cause.
class NdbError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Formats a value as 0x... for messages.
std::string Hex(uint64_t value);

}  // namespace pst::ndb
