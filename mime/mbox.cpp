#include "mime/mbox.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "fs/file.h"
#include "mime/gmime_support.h"
#include "mime/message_builder.h"
#include "mime/sha256.h"
#include "pst/messaging/reproducible.h"

namespace mime {
namespace {

struct ParserOptionsFree {
    void operator()(GMimeParserOptions* o) const { g_mime_parser_options_free(o); }
};

std::string ReadSome(const fs::File& file, uint64_t offset, size_t n) {
    std::string bytes(n, '\0');
    bytes.resize(file.ReadAt(offset, bytes.data(), n));
    return bytes;
}

// Envelope lines carry the delivery time ("10:00:00"); text that happens to start with "From "
// rarely does.
bool HoldsTimeOfDay(std::string_view line) {
    for (size_t i = 1; i + 2 < line.size(); ++i)
        if (line[i] == ':' && std::isdigit(uint8_t(line[i - 1])) &&
            std::isdigit(uint8_t(line[i + 1])) && std::isdigit(uint8_t(line[i + 2])))
            return true;
    return false;
}

bool SeparatorAt(const fs::File& file, uint64_t offset, uint64_t fileSize) {
    if (offset == fileSize) return true;
    const std::string next = ReadSome(file, offset, 7);
    return next.rfind("From ", 0) == 0 || next.rfind("\nFrom ", 0) == 0 ||
           next.rfind("\r\nFrom ", 0) == 0;
}

bool StartsNoCase(std::string_view text, std::string_view head) {
    if (text.size() < head.size()) return false;
    for (size_t i = 0; i < head.size(); ++i)
        if (std::tolower(uint8_t(text[i])) != head[i]) return false;
    return true;
}

// The states a header field of a message gives (Thunderbird's X-Mozilla-Status in hex; Status
// and X-Status letters as other mbox writers keep them), and its Content-Length.
void ReadStateField(std::string_view line, MailMarks& marks, std::optional<uint64_t>& length) {
    auto valueOf = [&](std::string_view name) {
        std::string_view v = line.substr(name.size());
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
        return std::string(v);
    };
    if (StartsNoCase(line, "x-mozilla-status:")) {
        const unsigned long bits = std::strtoul(valueOf("x-mozilla-status:").c_str(), nullptr, 16);
        marks.known = true;
        marks.read = bits & 0x1;
        marks.replied = bits & 0x2;
        marks.flagged = bits & 0x4;
        marks.deleted = bits & 0x8;
        marks.forwarded = bits & 0x1000;
    } else if (StartsNoCase(line, "status:")) {
        marks.known = true;
        marks.read = valueOf("status:").find('R') != std::string::npos;
    } else if (StartsNoCase(line, "x-status:")) {
        const std::string v = valueOf("x-status:");
        marks.known = true;
        marks.replied = v.find('A') != std::string::npos;
        marks.flagged = v.find('F') != std::string::npos;
        marks.deleted = v.find('D') != std::string::npos;
    } else if (StartsNoCase(line, "content-length:")) {
        const std::string v = valueOf("content-length:");
        if (!v.empty() && std::isdigit(uint8_t(v[0])))
            length = std::strtoull(v.c_str(), nullptr, 10);
    }
}

// The lines of a file, read through a buffer of its own: of each, its offset and its first
// bytes (enough to tell a separator or a state field), however long the line is.
class LineReader {
  public:
    explicit LineReader(const fs::File& file) : file_(file), buffer_(1 << 20) {}

    bool Next(std::string& head, uint64_t& start) {
        head.clear();
        start = Position();
        bool any = false;
        while (true) {
            if (pos_ == len_) {
                offset_ += len_;
                pos_ = 0;
                len_ = file_.ReadAt(offset_, buffer_.data(), buffer_.size());
                if (len_ == 0) return any;
            }
            any = true;
            const char* from = buffer_.data() + pos_;
            const void* nl = std::memchr(from, '\n', len_ - pos_);
            const size_t n = nl ? size_t(static_cast<const char*>(nl) - from) + 1 : len_ - pos_;
            if (head.size() < kHead) head.append(from, std::min(n, kHead - head.size()));
            pos_ += n;
            if (nl) return true;
        }
    }
    // The offset of the next line.
    uint64_t Position() const { return offset_ + pos_; }

  private:
    static constexpr size_t kHead = 1024;
    const fs::File& file_;
    std::vector<char> buffer_;
    uint64_t offset_ = 0;  // of the buffer's first byte
    size_t pos_ = 0, len_ = 0;
};

void OnTruncated(gint64 offset, GMimeParserWarning code, const gchar*, gpointer data) {
    if (code != GMIME_WARN_TRUNCATED_MESSAGE) return;
    auto* warnings = static_cast<std::vector<std::string>*>(data);
    const std::string what = "the message ends before its last part is closed (cut file?)";
    for (const auto& w : *warnings)
        if (w.rfind(what, 0) == 0) return;
    warnings->push_back(what + (offset >= 0 ? " at byte " + std::to_string(offset) : ""));
}

// The delivery time of the envelope line ("From sender Tue Nov  3 10:00:00 2026"), which stands
// in for a message without a usable Date, as the file's time does for a message file.
std::optional<int64_t> EnvelopeTime(std::string_view line) {
    line.remove_prefix(std::min<size_t>(line.size(), 5));  // "From "
    const size_t sender = line.find(' ');
    if (sender == std::string_view::npos) return std::nullopt;
    const std::string when(line.substr(sender + 1));
    GDateTime* parsed = g_mime_utils_header_decode_date(when.c_str());
    if (!parsed) return std::nullopt;
    const int64_t seconds = g_date_time_to_unix(parsed);
    g_date_time_unref(parsed);
    return seconds;
}

// The blank line that ends a message's bytes before the next separator belongs to the
// separator: its size, when `tail` (the message's last bytes) ends with one.
size_t SeparatorBlankLine(std::string_view tail) {
    if (tail.size() >= 4 && tail.substr(tail.size() - 4) == "\r\n\r\n") return 2;
    if (tail.size() >= 2 && tail.substr(tail.size() - 2) == "\n\n") return 1;
    return 0;
}

// The end of the header block in `bytes` (just past its empty line), or the end of `bytes`.
size_t HeaderBlockEnd(std::string_view bytes) {
    if (bytes.rfind("\n", 0) == 0) return 1;
    if (bytes.rfind("\r\n", 0) == 0) return 2;
    for (size_t nl = bytes.find('\n'); nl != std::string_view::npos;
         nl = bytes.find('\n', nl + 1)) {
        if (nl + 1 < bytes.size() && bytes[nl + 1] == '\n') return nl + 2;
        if (nl + 2 < bytes.size() && bytes[nl + 1] == '\r' && bytes[nl + 2] == '\n') return nl + 3;
    }
    return bytes.size();
}

}  // namespace

bool LooksLikeMbox(const std::string& path) {
    try {
        fs::File file = fs::File::Open(path, fs::File::Mode::Read);
        return ReadSome(file, 0, 5) == "From ";
    } catch (const fs::FileError&) {
        return false;
    }
}

std::string ScanMbox(const std::string& path,
                     const std::function<void(const MboxMessage&)>& found) {
    try {
        fs::File file = fs::File::Open(path, fs::File::Mode::Read);
        const uint64_t fileSize = file.Size();
        LineReader lines(file);
        std::optional<MboxMessage> current;
        bool inHeaders = false;
        bool previousBlank = true;  // the start of the file counts as after a blank line
        uint64_t bodyEnd = 0;       // a Content-Length the file confirms: no separator before it
        std::optional<uint64_t> contentLength;
        std::string head;
        uint64_t at = 0;
        while (lines.Next(head, at)) {
            std::string_view line(head);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                line.remove_suffix(1);
            const bool blank = line.empty();
            if (line.rfind("From ", 0) == 0 && at >= bodyEnd &&
                (!current || (previousBlank && HoldsTimeOfDay(line)))) {
                if (current) {
                    current->length = at - current->offset;
                    found(*current);
                }
                current = MboxMessage{current ? current->ordinal + 1 : 1, at, 0, {}};
                inHeaders = true;
                contentLength.reset();
            } else if (inHeaders && blank) {
                inHeaders = false;
                if (contentLength) {
                    const uint64_t end = lines.Position() + *contentLength;
                    if (*contentLength <= fileSize && end <= fileSize &&
                        SeparatorAt(file, end, fileSize))
                        bodyEnd = end;
                }
            } else if (inHeaders) {
                ReadStateField(line, current->marks, contentLength);
            }
            previousBlank = blank;
        }
        if (current) {
            current->length = fileSize - current->offset;
            found(*current);
        }
        return "";
    } catch (const std::exception& e) {
        return e.what();
    }
}

size_t UnquoteFromLines(char* data, size_t size) {
    size_t out = 0;
    bool lineStart = true;
    for (size_t in = 0; in < size;) {
        if (lineStart && data[in] == '>') {
            size_t q = in;
            while (q < size && data[q] == '>') ++q;
            if (size - q >= 5 && std::memcmp(data + q, "From ", 5) == 0) ++in;  // drop one '>'
        }
        const char c = data[in++];
        data[out++] = c;
        lineStart = c == '\n';
    }
    return out;
}

ImportResult ImportMboxMessage(const std::string& path, uint64_t offset, uint64_t length,
                               const std::string& shown, const ImportOptions& options) {
    ImportResult result;
    try {
        EnsureGMime();
        fs::File file;
        fs::File::Status status;
        try {
            file = fs::File::Open(path, fs::File::Mode::Read, &status);
        } catch (const fs::FileError& e) {
            result.error = "cannot read " + path + ": " + e.what();
            return result;
        }
        const uint64_t fileSize = status.size;
        int64_t modified = status.modified;
        if (offset >= fileSize || ReadSome(file, offset, 5) != "From ") {
            result.error = "the mbox file changed since it was scanned: no message starts there";
            return result;
        }
        const uint64_t end = std::min(fileSize, offset + length);
        // The separator line is the mbox's, not the message's.
        uint64_t begin = offset;
        for (std::string piece; begin < end;) {
            piece = ReadSome(file, begin, size_t(std::min<uint64_t>(4096, end - begin)));
            const size_t nl = piece.find('\n');
            if (nl != std::string::npos) {
                if (begin == offset)
                    modified = EnvelopeTime(piece.substr(0, nl)).value_or(modified);
                begin += nl + 1;
                break;
            }
            begin += piece.size();
            if (piece.empty()) break;
        }
        if (begin >= end) {
            result.error = "not a message: nothing follows its \"From \" line";
            return result;
        }

        TopLevel top;
        top.messageSize = end - begin;
        MessageSource source;
        source.inMemoryLimit = options.inMemoryAttachmentLimit;
        source.inMemoryTotalLimit = options.inMemoryTotalLimit;
        uint64_t inMemoryTotal = 0;
        source.inMemoryTotal = &inMemoryTotal;
        source.warnings = &result.warnings;

        GPtr<GMimeStream> stream;
        Sha256 sum;
        if (end - begin <= std::min<uint64_t>(options.inMemoryFileLimit, 1ull << 30)) {
            // Read straight into the buffer the stream takes over: no copy of the message.
            GByteArray* bytes = g_byte_array_sized_new(guint(end - begin));
            g_byte_array_set_size(bytes, guint(end - begin));
            stream.reset(g_mime_stream_mem_new_with_byte_array(bytes));
            const size_t got = file.ReadAt(begin, bytes->data, bytes->len);
            char* data = reinterpret_cast<char*>(bytes->data);
            sum.Update(bytes->data, got);
            size_t size = got;
            if (std::string_view(data, size).find(">From ") != std::string_view::npos)
                size = UnquoteFromLines(data, size);
            size -= SeparatorBlankLine(std::string_view(data, size));
            g_byte_array_set_size(bytes, guint(size));
            const size_t headerEnd = HeaderBlockEnd(std::string_view(data, size));
            top.rawHeaders.assign(data, headerEnd);
            // Parsed from memory: no part is read back from the file later (its offsets in
            // memory are not the file's), so the source names no file.
            top.bodyOffset = 1;
            top.messageEnd = 0;
        } else {
            std::vector<uint8_t> piece(1 << 20);
            for (uint64_t at = begin; at < end;) {
                const size_t got = file.ReadAt(at, piece.data(),
                                               size_t(std::min<uint64_t>(piece.size(), end - at)));
                if (got == 0) break;
                sum.Update(piece.data(), got);
                at += got;
            }
            const std::string head =
                ReadSome(file, begin, size_t(std::min<uint64_t>(end - begin, 1 << 20)));
            const size_t headerEnd = HeaderBlockEnd(head);
            top.rawHeaders = head.substr(0, headerEnd);
            top.bodyOffset = begin + headerEnd;
            top.messageEnd = end;
            source.path = path;  // large parts are read back from the mbox file by offset
            const uint64_t contentEnd =
                end - SeparatorBlankLine(ReadSome(file, end - std::min<uint64_t>(end - begin, 4),
                                                  size_t(std::min<uint64_t>(end - begin, 4))));
            stream.reset(g_mime_stream_fs_new_with_bounds(file.TakeCrtDescriptor(), gint64(begin),
                                                          gint64(contentEnd)));
        }
        result.sourceDigest = sum.Final();
        if (pst::messaging::FixedEpoch()) SeedRandomBytes(result.sourceDigest);

        std::unique_ptr<GMimeParserOptions, ParserOptionsFree> parserOptions(
            g_mime_parser_options_clone(LooseParserOptions()));
        g_mime_parser_options_set_warning_callback(parserOptions.get(), OnTruncated,
                                                   &result.warnings);
        GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        g_mime_parser_set_persist_stream(parser.get(), TRUE);
        g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
        GPtr<GMimeMessage> message(
            g_mime_parser_construct_message(parser.get(), parserOptions.get()));
        GMimeHeaderList* headers =
            message ? g_mime_object_get_header_list(GMIME_OBJECT(message.get())) : nullptr;
        if (!message || !headers || g_mime_header_list_get_count(headers) == 0) {
            result.error = "not a message: no header field could be read";
            return result;
        }
        BuildMessage(message.get(), source, &top, modified, 0, "", result.content);
        result.ok = true;
    } catch (const std::exception& e) {
        result.ok = false;
        result.error = "cannot import " + shown + ": " + e.what();
    }
    return result;
}

}  // namespace mime
