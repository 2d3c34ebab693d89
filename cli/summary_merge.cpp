#include "cli/summary_merge.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "fs/utf8.h"

namespace cli {
namespace {

// A JSON value as far as a summary needs one.
struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Value> items;
    std::map<std::string, Value> members;
};

class Parser {
  public:
    explicit Parser(const std::string& text) : s_(text) {}

    Value Document() {
        Value v = Parse(0);
        Space();
        if (at_ != s_.size()) Fail("text after the end");
        return v;
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("not valid JSON at byte " + std::to_string(at_) + ": " + what);
    }
    void Space() {
        while (at_ < s_.size() &&
               (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t'))
            ++at_;
    }
    bool Take(char c) {
        Space();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void Expect(char c) {
        if (!Take(c)) Fail(std::string("expected '") + c + "'");
    }
    bool Word(const char* w) {
        const std::string word(w);
        if (s_.compare(at_, word.size(), word) != 0) return false;
        at_ += word.size();
        return true;
    }

    Value Parse(int depth) {
        if (depth > 64) Fail("nested too deeply");
        Space();
        if (at_ >= s_.size()) Fail("unexpected end");
        Value v;
        const char c = s_[at_];
        if (c == '{') {
            ++at_;
            v.kind = Value::Kind::Object;
            if (Take('}')) return v;
            do {
                Space();
                std::string name = String();
                Expect(':');
                v.members[name] = Parse(depth + 1);
            } while (Take(','));
            Expect('}');
        } else if (c == '[') {
            ++at_;
            v.kind = Value::Kind::Array;
            if (Take(']')) return v;
            do v.items.push_back(Parse(depth + 1));
            while (Take(','));
            Expect(']');
        } else if (c == '"') {
            v.kind = Value::Kind::String;
            v.text = String();
        } else if (Word("true")) {
            v.kind = Value::Kind::Bool;
            v.boolean = true;
        } else if (Word("false")) {
            v.kind = Value::Kind::Bool;
        } else if (Word("null")) {
        } else {
            const char* begin = s_.c_str() + at_;
            char* end = nullptr;
            v.number = std::strtod(begin, &end);
            if (end == begin) Fail("unexpected character");
            v.kind = Value::Kind::Number;
            at_ += size_t(end - begin);
        }
        return v;
    }

    uint32_t Hex4() {
        if (at_ + 4 > s_.size()) Fail("short \\u escape");
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = s_[at_++];
            v <<= 4;
            if (h >= '0' && h <= '9')
                v |= uint32_t(h - '0');
            else if (h >= 'a' && h <= 'f')
                v |= uint32_t(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                v |= uint32_t(h - 'A' + 10);
            else
                Fail("bad \\u escape");
        }
        return v;
    }
    std::string String() {
        if (at_ >= s_.size() || s_[at_] != '"') Fail("expected a string");
        ++at_;
        std::string out;
        for (;;) {
            if (at_ >= s_.size()) Fail("unterminated string");
            const char c = s_[at_++];
            if (c == '"') return out;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (at_ >= s_.size()) Fail("unterminated string");
            const char e = s_[at_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(e);
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u': {
                    uint32_t cp = Hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && Word("\\u")) {
                        const uint32_t low = Hex4();
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    fs::AppendUtf8(out, cp, fs::Utf8Policy::kKeepSurrogates);
                    break;
                }
                default:
                    Fail("bad escape");
            }
        }
    }

    const std::string& s_;
    size_t at_ = 0;
};

// The member `name` of `object`, of the kind asked for; a missing optional one is null.
const Value& Member(const Value& object, const std::string& name, Value::Kind kind,
                    bool required = true) {
    static const Value kNull;
    auto it = object.members.find(name);
    if (it == object.members.end()) {
        if (required) throw std::runtime_error("not a summary: no \"" + name + "\"");
        return kNull;
    }
    if (it->second.kind != kind)
        throw std::runtime_error("not a summary: \"" + name + "\" is of the wrong kind");
    return it->second;
}
std::string Text(const Value& o, const std::string& name, bool required = true) {
    return Member(o, name, Value::Kind::String, required).text;
}
int Int(const Value& o, const std::string& name) {
    return int(Member(o, name, Value::Kind::Number).number);
}
const std::vector<Value>& Items(const Value& o, const std::string& name) {
    return Member(o, name, Value::Kind::Array).items;
}
std::vector<engine::RunReport::Failure> Failures(const Value& o, const std::string& name,
                                                 const std::string& what) {
    std::vector<engine::RunReport::Failure> out;
    for (const auto& f : Items(o, name)) out.push_back({Text(f, what), Text(f, "reason")});
    return out;
}

engine::FolderOutcome FolderOutcomeNamed(const std::string& name) {
    using engine::FolderOutcome;
    static const std::map<std::string, FolderOutcome> kNames = {
        {"converted", FolderOutcome::Converted},
        {"skipped", FolderOutcome::Skipped},
        {"stopped", FolderOutcome::Stopped},
        {"cancelled", FolderOutcome::Cancelled},
        {"store failed", FolderOutcome::StoreFailed},
        {"nothing to convert", FolderOutcome::NothingToConvert}};
    auto it = kNames.find(name);
    if (it == kNames.end()) throw std::runtime_error("not a summary: outcome \"" + name + "\"");
    return it->second;
}

}  // namespace

ReadSummary ParseSummary(const std::string& json) {
    const Value doc = Parser(json).Document();
    if (doc.kind != Value::Kind::Object) throw std::runtime_error("not a summary: not an object");
    ReadSummary out;
    engine::RunReport& r = out.report;
    for (const auto& f : Items(doc, "folders")) {
        engine::RunReport::FolderResult folder;
        folder.source = Text(f, "source");
        folder.linkedFrom = Text(f, "linkedFrom", false);
        folder.pstPath = Text(f, "pst");
        const Value& bytes = Member(f, "pstBytes", Value::Kind::Number, false);
        if (bytes.kind == Value::Kind::Number) out.sizes[folder.pstPath] = uint64_t(bytes.number);
        for (const auto& c : Member(f, "continuations", Value::Kind::Array, false).items) {
            folder.continuations.push_back(Text(c, "pst"));
            const Value& size = Member(c, "pstBytes", Value::Kind::Number, false);
            if (size.kind == Value::Kind::Number)
                out.sizes[folder.continuations.back()] = uint64_t(size.number);
        }
        folder.queued = Int(f, "queued");
        folder.messageFiles = Int(f, "messageFiles");
        folder.converted = Int(f, "converted");
        folder.warned = Int(f, "warned");
        // Summaries of versions that did not look for messages already stored have no count.
        const Value& already = Member(f, "alreadyStored", Value::Kind::Number, false);
        if (already.kind == Value::Kind::Number) folder.alreadyStored = int(already.number);
        folder.foldersCreated = Int(f, "foldersCreated");
        folder.outcome = FolderOutcomeNamed(Text(f, "outcome"));
        const Value& storeError = Member(f, "storeError", Value::Kind::String, false);
        folder.storeFailed = storeError.kind == Value::Kind::String;
        folder.storeError = storeError.text;
        const Value& opened = Member(f, "storeOpened", Value::Kind::Bool, false);
        folder.storeOpened = opened.kind == Value::Kind::Bool
                                 ? opened.boolean
                                 : !folder.pstPath.empty() && !folder.storeFailed;
        folder.unreadFolders = Failures(f, "unreadFolders", "folder");
        auto failed = Failures(f, "failed", "file");
        folder.failed = int(failed.size());
        r.failures.insert(r.failures.end(), failed.begin(), failed.end());
        for (const auto& w : Items(f, "warnings")) {
            engine::RunReport::Warning warning{Text(w, "file"), {}};
            for (const auto& text : Items(w, "warnings")) {
                if (text.kind != Value::Kind::String)
                    throw std::runtime_error("not a summary: a warning is not text");
                warning.warnings.push_back(text.text);
            }
            r.warnings.push_back(std::move(warning));
        }
        r.folders.push_back(std::move(folder));
    }
    r.ignored = Failures(doc, "ignored", "what");
    out.seconds = Member(doc, "seconds", Value::Kind::Number).number;
    return out;
}

void MergeSummary(ReadSummary& whole, ReadSummary&& part) {
    auto add = [](auto& to, auto& from) { to.insert(to.end(), from.begin(), from.end()); };
    // A root that could not be listed is reported by every shard of it: counted once.
    auto rootOnly = [](const engine::RunReport::FolderResult& f) {
        return f.pstPath.empty() && f.outcome == engine::FolderOutcome::NothingToConvert &&
               f.failed == 0 && f.warned == 0 && !f.unreadFolders.empty();
    };
    std::erase_if(part.report.folders, [&](const engine::RunReport::FolderResult& f) {
        return rootOnly(f) && std::any_of(whole.report.folders.begin(), whole.report.folders.end(),
                                          [&](const engine::RunReport::FolderResult& w) {
                                              return rootOnly(w) && w.source == f.source;
                                          });
    });
    add(whole.report.folders, part.report.folders);
    add(whole.report.failures, part.report.failures);
    add(whole.report.warnings, part.report.warnings);
    add(whole.report.ignored, part.report.ignored);
    whole.sizes.merge(part.sizes);
    whole.seconds = std::max(whole.seconds, part.seconds);
}

void OrderBySource(engine::RunReport& report) {
    struct Part {
        engine::RunReport::FolderResult folder;
        std::vector<engine::RunReport::Failure> failures;
        std::vector<engine::RunReport::Warning> warnings;
    };
    std::vector<Part> parts;
    size_t failure = 0, warning = 0;
    for (auto& f : report.folders) {
        Part p{std::move(f), {}, {}};
        for (int k = 0; k < p.folder.failed && failure < report.failures.size(); ++k)
            p.failures.push_back(std::move(report.failures[failure++]));
        for (int k = 0; k < p.folder.warned && warning < report.warnings.size(); ++k)
            p.warnings.push_back(std::move(report.warnings[warning++]));
        parts.push_back(std::move(p));
    }
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) {
        return a.folder.source < b.folder.source;
    });
    report.folders.clear();
    report.failures.clear();
    report.warnings.clear();
    for (auto& p : parts) {
        report.folders.push_back(std::move(p.folder));
        report.failures.insert(report.failures.end(), p.failures.begin(), p.failures.end());
        report.warnings.insert(report.warnings.end(), p.warnings.begin(), p.warnings.end());
    }
}

}  // namespace cli
