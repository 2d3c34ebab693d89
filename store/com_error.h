#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace store {

// A failed call of the store's object model: a number and a description, as the engine reads
// them after a failing step.
class ComError : public std::runtime_error {
  public:
    ComError(int32_t number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}
    int32_t Number() const { return number_; }
    const std::string& Description() const { return description_; }

  private:
    int32_t number_;
    std::string description_;
};

// Error numbers the store gives.
constexpr int32_t kErrNotFound = int32_t(0x8004010F);        // a folder or object is missing
constexpr int32_t kErrCollision = int32_t(0x80040604);       // a folder name already taken
constexpr int32_t kErrCannotOpen = int32_t(0x80040116);      // the data file cannot be opened
constexpr int32_t kErrInvalidMessage = int32_t(0x80040119);  // a file that is no message
constexpr int32_t kErrCallFailed = int32_t(0x80004005);      // any other failure
// The data file could not be written at a commit: what was saved since the last commit is
// lost, and the session takes no more writes.
constexpr int32_t kErrWriteFault = int32_t(0x8003001D);

}  // namespace store
