#pragma once

#include <stdexcept>
#include <string>

namespace pst::messaging {

// A store that breaks the messaging rules, or a request the store cannot satisfy.
class MessagingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A folder name already taken (letter case ignored) among the parent's subfolders.
class FolderNameCollision : public MessagingError {
  public:
    using MessagingError::MessagingError;
};

}  // namespace pst::messaging
