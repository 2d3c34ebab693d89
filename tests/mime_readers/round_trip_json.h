#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mime::roundtrip {

// A parsed JSON document, just enough of it to read the reader scripts' dumps.
struct Json {
    enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
    bool boolean = false;
    double number = 0;
    std::string string;  // UTF-8
    std::vector<Json> array;
    std::map<std::string, Json> object;

    bool isNull() const { return kind == Kind::kNull; }
    // The member `key`, or a null value when absent (dumps leave out what a reader lacks).
    const Json& operator[](const std::string& key) const;
    // A string member, or "" when it is null or absent.
    std::string str(const std::string& key) const;

    static Json Parse(std::string_view text);  // throws std::runtime_error
};

}  // namespace mime::roundtrip
