#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "fs/file.h"

namespace pst::ndb {

// Any failure of the node database: unreadable or damaged files, refused formats, misuse.
// The message names the file or item and the cause; GetCause() sorts it for callers that put it
// into their own words.
class NdbError : public std::runtime_error {
  public:
    enum class Cause {
        Other,        // misuse, a limit of this engine, or nothing more to say
        File,         // a call of the file system failed; FileKind() says how
        InUse,        // another session (of this program or another) holds the file
        ReadOnly,     // the file may not be written; FileKind() says why when the system refused
        NotPst,       // the file is no PST file at all
        Ansi,         // an ANSI (32-bit) PST file, which is never written
        Unsupported,  // another PST variant this engine does not take
        Damaged,      // the file's structures contradict each other or their checksums
    };

    explicit NdbError(const std::string& what, Cause cause = Cause::Other)
        : std::runtime_error(what), cause_(cause) {}
    NdbError(const std::string& what, Cause cause, fs::FileError::Kind kind)
        : std::runtime_error(what), cause_(cause), fileKind_(kind) {}

    Cause GetCause() const { return cause_; }
    fs::FileError::Kind FileKind() const { return fileKind_; }

  private:
    Cause cause_;
    fs::FileError::Kind fileKind_ = fs::FileError::Kind::Other;
};

// Formats a value as 0x... for messages.
std::string Hex(uint64_t value);

}  // namespace pst::ndb
