#include "tests/mime_readers/round_trip_json.h"

#include <cstdlib>

namespace mime::roundtrip {
namespace {

class Parser {
  public:
    explicit Parser(std::string_view text) : s_(text) {}

    Json document() {
        Json v = value();
        skipSpace();
        if (i_ != s_.size()) fail("trailing characters");
        return v;
    }

  private:
    [[noreturn]] void fail(const char* what) const {
        throw std::runtime_error(std::string("JSON: ") + what + " at offset " + std::to_string(i_));
    }
    void skipSpace() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t'))
            ++i_;
    }
    bool take(std::string_view word) {
        if (s_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }
    void expect(char c) {
        skipSpace();
        if (i_ >= s_.size() || s_[i_] != c) fail("unexpected character");
        ++i_;
    }

    Json value() {
        skipSpace();
        if (i_ >= s_.size()) fail("unexpected end");
        Json v;
        char c = s_[i_];
        if (c == '{') {
            v.kind = Json::Kind::kObject;
            ++i_;
            skipSpace();
            if (i_ < s_.size() && s_[i_] == '}') return ++i_, v;
            do {
                skipSpace();
                std::string key = string();
                expect(':');
                v.object[key] = value();
                skipSpace();
            } while (i_ < s_.size() && s_[i_] == ',' && ++i_);
            expect('}');
        } else if (c == '[') {
            v.kind = Json::Kind::kArray;
            ++i_;
            skipSpace();
            if (i_ < s_.size() && s_[i_] == ']') return ++i_, v;
            do {
                v.array.push_back(value());
                skipSpace();
            } while (i_ < s_.size() && s_[i_] == ',' && ++i_);
            expect(']');
        } else if (c == '"') {
            v.kind = Json::Kind::kString;
            v.string = string();
        } else if (take("null")) {
        } else if (take("true") || take("false")) {
            v.kind = Json::Kind::kBool;
            v.boolean = s_[i_ - 1] == 'e' && s_[i_ - 2] == 'u';
        } else {
            v.kind = Json::Kind::kNumber;
            std::string digits;
            while (i_ < s_.size() &&
                   std::string_view("+-0123456789.eE").find(s_[i_]) != std::string_view::npos)
                digits += s_[i_++];
            if (digits.empty()) fail("not a value");
            v.number = std::strtod(digits.c_str(), nullptr);
        }
        return v;
    }

    uint32_t hex4() {
        if (i_ + 4 > s_.size()) fail("short \\u escape");
        uint32_t u = 0;
        for (int k = 0; k < 4; ++k) {
            char h = s_[i_++];
            u = u * 16 + uint32_t(h <= '9' ? h - '0' : (h | 0x20) - 'a' + 10);
        }
        return u;
    }

    static void append(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    std::string string() {
        if (i_ >= s_.size() || s_[i_] != '"') fail("string expected");
        ++i_;
        std::string out;
        while (true) {
            if (i_ >= s_.size()) fail("unterminated string");
            char c = s_[i_++];
            if (c == '"') return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) fail("unterminated escape");
            char e = s_[i_++];
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    uint32_t cp = hex4();
                    // A surrogate pair stands for one code point above U+FFFF.
                    if (cp >= 0xD800 && cp < 0xDC00 && s_.substr(i_, 2) == "\\u") {
                        i_ += 2;
                        uint32_t low = hex4();
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    append(out, cp);
                    break;
                }
                default:
                    out += e;
            }
        }
    }

    std::string_view s_;
    size_t i_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
    static const Json kNull;
    auto it = object.find(key);
    return it == object.end() ? kNull : it->second;
}

std::string Json::str(const std::string& key) const {
    const Json& v = (*this)[key];
    return v.kind == Kind::kString ? v.string : std::string();
}

Json Json::Parse(std::string_view text) {
    return Parser(text).document();
}

}  // namespace mime::roundtrip
