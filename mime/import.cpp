#include "mime/import.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "fs/file.h"
#include "mime/emlx.h"
#include "mime/gmime_support.h"
#include "mime/message_builder.h"
#include "mime/sha256.h"
#include "pst/ltp/kept_pool.h"
#include "pst/messaging/reproducible.h"

namespace mime {
namespace {

// Header blocks larger than this are cut for the transport-header copy (the parser still
// reads all of them).
constexpr uint64_t kMaxRawHeaderBlock = 32ull * 1024 * 1024;

// Whatever the options say: GMime's buffers count their size in 32 bits.
constexpr uint64_t kMaxFileInMemory = 1ull << 30;

struct ByteArrayFree {
    void operator()(GByteArray* a) const { g_byte_array_unref(a); }
};

// Buffers for small files, reused from one file to the next.
pst::KeptPool<GByteArray>& Kept() {
    static auto* kept = new pst::KeptPool<GByteArray>([] { return g_byte_array_new(); },
                                                      [](GByteArray* a) { g_byte_array_unref(a); });
    return *kept;
}

// The bytes of the open file: all of them in memory, or read piece by piece on request.
// Failed reads return false and leave the reason in error().
class FileBytes {
  public:
    explicit FileBytes(fs::File file) : file_(std::move(file)) {}
    ~FileBytes() {
        if (kept_) {
            g_byte_array_set_size(whole_.get(), 0);
            Kept().Give(whole_.release());
        }
    }
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    const fs::File& file() const { return file_; }
    const std::string& error() const { return error_; }

    // Reads the whole file of `size` bytes. A file that shrank meanwhile keeps the bytes it
    // still had.
    bool ReadWhole(uint64_t size) {
        if (size <= kKeptBuffer) {
            whole_.reset(Kept().Take());
            kept_ = true;
        } else {
            whole_.reset(g_byte_array_sized_new(guint(size)));
        }
        g_byte_array_set_size(whole_.get(), guint(size));
        size_t got = 0;
        if (!Read(0, size_t(size), whole_->data, got)) return false;
        g_byte_array_set_size(whole_.get(), guint(got));
        return true;
    }
    uint64_t size() const { return whole_->len; }  // after ReadWhole

    // SHA-256 of the file's first `size` bytes: from memory, or read through in pieces.
    bool Digest(uint64_t size, std::array<uint8_t, 32>& out) {
        Sha256 sum;
        bool ok = true;
        if (whole_) {
            sum.Update(whole_->data, whole_->len);
        } else {
            // No larger than the file: most message files are small, and a zeroed megabyte per
            // file cost more than the digest itself.
            std::vector<uint8_t> piece(size_t(std::min<uint64_t>(size, uint64_t(1) << 20)));
            for (uint64_t at = 0; ok && at < size;) {
                size_t got = 0;
                ok = Read(at, size_t(std::min<uint64_t>(piece.size(), size - at)), piece.data(),
                          got);
                if (ok && got == 0) break;  // cut meanwhile: the bytes that are there
                sum.Update(piece.data(), got);
                at += got;
            }
        }
        out = sum.Final();
        return ok;
    }

    // Bytes [offset, offset + n) or fewer at the end of the file: a view into the file held in
    // memory, or into `scratch`.
    bool View(uint64_t offset, size_t n, std::string& scratch, std::string_view& out) {
        if (whole_) {
            const uint64_t len = whole_->len;
            const uint64_t from = std::min(offset, len);
            out = std::string_view(reinterpret_cast<const char*>(whole_->data) + from,
                                   size_t(std::min<uint64_t>(n, len - from)));
            return true;
        }
        scratch.resize(n);
        size_t got = 0;
        if (!Read(offset, n, reinterpret_cast<uint8_t*>(scratch.data()), got)) return false;
        scratch.resize(got);
        out = scratch;
        return true;
    }

    // A GMime stream over bytes [begin, end) whose positions are file offsets. It takes over
    // the file or the bytes held in memory.
    GMimeStream* TakeStream(uint64_t begin, uint64_t end) {
        if (!whole_)
            return g_mime_stream_fs_new_with_bounds(file_.TakeCrtDescriptor(), gint64(begin),
                                                    gint64(end));
        file_.Close();
        GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(whole_.get());
        // The stream frees a buffer of its own when it goes; a kept one stays with this object.
        if (kept_)
            g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
        else
            whole_.release();
        g_mime_stream_set_bounds(stream, gint64(begin), gint64(end));
        return stream;
    }

  private:
    bool Read(uint64_t offset, size_t n, uint8_t* out, size_t& got) {
        try {
            got = file_.ReadAt(offset, out, n);
            return true;
        } catch (const fs::FileError& e) {
            error_ = e.what();
            return false;
        }
    }

    static constexpr uint64_t kKeptBuffer = 1024 * 1024;
    fs::File file_;
    std::unique_ptr<GByteArray, ByteArrayFree> whole_;
    bool kept_ = false;
    std::string error_;
};

// Parser findings that mean content was lost or read in a way the sender did not mean; the
// many harmless irregularities of real mail are not reported.
void OnParserWarning(gint64 offset, GMimeParserWarning code, const gchar* item, gpointer data) {
    auto* warnings = static_cast<std::vector<std::string>*>(data);
    std::string what;
    switch (code) {
        case GMIME_WARN_TRUNCATED_MESSAGE:
            what = "the message ends before its last part is closed (cut file?)";
            break;
        case GMIME_CRIT_NESTING_OVERFLOW:
            what = "parts nested too deeply were read as plain data";
            break;
        case GMIME_CRIT_MULTIPART_WITHOUT_BOUNDARY:
            what = "a multipart without boundary was read as one part";
            break;
        case GMIME_CRIT_PART_WITHOUT_HEADERS_OR_CONTENT:
            what = "an empty part was skipped";
            break;
        default:
            return;
    }
    (void)item;
    // One report per kind: hostile input can repeat the same finding thousands of times.
    for (const auto& w : *warnings)
        if (w.rfind(what, 0) == 0) return;
    if (offset >= 0) what += " at byte " + std::to_string(offset);
    warnings->push_back(std::move(what));
}

struct ParserOptionsFree {
    void operator()(GMimeParserOptions* o) const { g_mime_parser_options_free(o); }
};

bool IsHeaderLine(std::string_view line) {
    if (line.rfind("From ", 0) == 0) return true;  // mbox separator line
    size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    for (size_t k = 0; k < colon; ++k) {
        auto c = uint8_t(line[k]);
        if (c == ' ' || c == '\t') {
            // Blanks are tolerated only between the name and the colon.
            return line.substr(k, colon - k).find_first_not_of(" \t") == std::string_view::npos;
        }
        if (c < 0x21 || c > 0x7E) return false;
    }
    return true;
}

// Where the header block starts in `head`: after a byte-order mark, blank lines and at most
// two lines of leading text (such as a "... Internet Headers Version 2.0" banner); or why the
// data cannot be a message.
struct Start {
    size_t offset = 0;
    std::string refusal;
};
Start FindStart(std::string_view head) {
    size_t pos = head.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    size_t control = 0;
    std::string_view sampleText = head.substr(pos);
    size_t sample = std::min<size_t>(sampleText.size(), 1024);
    for (size_t i = 0; i < sample; ++i) {
        // Without branches, so the compiler counts many bytes at once.
        auto c = uint8_t(sampleText[i]);
        control += size_t((c < 0x20) & (c != '\t') & (c != '\r') & (c != '\n') & (c != '\f') &
                          (c != 0x1B));
    }
    if (control * 20 > sample) return {0, "not a message: the file holds binary data"};
    int textLines = 0;
    while (pos < head.size()) {
        size_t nl = head.find('\n', pos);
        std::string_view line = head.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos) {
            if (nl == std::string_view::npos) break;
            pos = nl + 1;
            continue;
        }
        if (IsHeaderLine(line)) return {pos, {}};
        if (++textLines > 2 || nl == std::string_view::npos) break;
        pos = nl + 1;
    }
    if (textLines == 0) return {0, "not a message: the file holds only blank lines"};
    return {0, "not a message: the first line is not a header field"};
}

// A message whose only fields are Content-* ones (a MIME entity saved on its own) keeps them
// on its part, not in the message's own list.
bool HasHeaderField(GMimeMessage* message) {
    auto count = [](GMimeObject* object) {
        GMimeHeaderList* list = object ? g_mime_object_get_header_list(object) : nullptr;
        return list ? g_mime_header_list_get_count(list) : 0;
    };
    return count(GMIME_OBJECT(message)) > 0 || count(g_mime_message_get_mime_part(message)) > 0;
}

// Finds the end of the header block: the offset just past the empty line (or the end).
uint64_t HeaderBlockEnd(FileBytes& file, uint64_t begin, uint64_t end, std::string& raw) {
    raw.clear();
    uint64_t pos = begin;
    std::string scratch;
    std::string_view chunk;
    char prev = '\n';  // a message may start with its empty line
    bool prevBlank = false;
    while (pos < end) {
        size_t n = size_t(std::min<uint64_t>(64 * 1024, end - pos));
        if (!file.View(pos, n, scratch, chunk) || chunk.empty()) break;
        for (size_t i = 0; i < chunk.size(); ++i) {
            char c = chunk[i];
            if (c == '\n') {
                if (prev == '\n' || prevBlank) {
                    uint64_t stop = pos + i + 1;
                    size_t keep = size_t(std::min<uint64_t>(stop - begin, kMaxRawHeaderBlock));
                    if (raw.size() < keep)
                        raw.append(chunk.substr(0, std::min(chunk.size(), keep - raw.size())));
                    return stop;
                }
                prevBlank = false;
            } else if (c == '\r' && prev == '\n') {
                prevBlank = true;
            } else if (c != '\r') {
                prevBlank = false;
            }
            prev = c;
        }
        if (raw.size() < kMaxRawHeaderBlock)
            raw.append(chunk.substr(
                0, size_t(std::min<uint64_t>(chunk.size(), kMaxRawHeaderBlock - raw.size()))));
        pos += chunk.size();
    }
    return end;
}

}  // namespace

ImportResult ImportMessageFile(const std::string& path, const ImportOptions& options) {
    ImportResult result;
    try {
        EnsureGMime();
        fs::File opened;
        fs::File::Status status;
        try {
            opened = fs::File::Open(path, fs::File::Mode::Read, &status);
        } catch (const fs::FileError& e) {
            using Kind = fs::FileError::Kind;
            const bool notAFile =
                e.GetKind() == Kind::Folder || e.GetKind() == Kind::NotRegularFile;
            result.error = (notAFile ? "cannot read " : "cannot open ") + path + ": " + e.what();
            return result;
        }
        FileBytes file(std::move(opened));
        uint64_t fileSize = status.size;
        const int64_t modified = status.modified;
        if (fileSize == 0) {
            result.error = "not a message: the file is empty";
            return result;
        }
        if (fileSize <= std::min<uint64_t>(options.inMemoryFileLimit, kMaxFileInMemory)) {
            if (!file.ReadWhole(fileSize)) {
                result.error = "cannot read " + path + ": " + file.error();
                return result;
            }
            fileSize = file.size();  // a file cut meanwhile is read as far as it goes
            if (fileSize == 0) {
                result.error = "not a message: the file is empty";
                return result;
            }
        }

        if (!file.Digest(fileSize, result.sourceDigest)) {
            result.error = "cannot read " + path + ": " + file.error();
            return result;
        }
        if (pst::messaging::FixedEpoch()) SeedRandomBytes(result.sourceDigest);

        TopLevel top;
        uint64_t begin = 0, end = fileSize;
        std::string headScratch;
        std::string_view head;
        if (!file.View(0, size_t(std::min<uint64_t>(fileSize, 8192)), headScratch, head)) {
            result.error = "cannot read " + path + ": " + file.error();
            return result;
        }
        if (HasEmlxName(path)) {
            if (auto layout = ParseEmlxCountLine(head, fileSize)) {
                begin = layout->messageOffset;
                end = begin + layout->messageLength;
                if (layout->truncated)
                    result.warnings.push_back(path + " is shorter than its byte count says");
                std::string plistScratch;
                std::string_view plist;
                if (end < fileSize &&
                    file.View(end, size_t(std::min<uint64_t>(fileSize - end, 1 << 20)),
                              plistScratch, plist))
                    ParseEmlxPlist(plist, *layout);
                top.emlx = layout;
                if (!file.View(begin, size_t(std::min<uint64_t>(end - begin, 8192)), headScratch,
                               head))
                    head = {};
            } else {
                result.warnings.push_back(path +
                                          " has no byte-count line; read as a plain message");
            }
        }
        if (begin == end) {
            result.error = "not a message: the file holds no message bytes";
            return result;
        }
        Start start = FindStart(head);
        if (!start.refusal.empty()) {
            result.error = start.refusal;
            return result;
        }
        begin += start.offset;

        top.bodyOffset = HeaderBlockEnd(file, begin, end, top.rawHeaders);
        top.messageEnd = end;
        top.messageSize = end - begin;

        // Parsed objects keep using the options: they live until the import is done.
        std::unique_ptr<GMimeParserOptions, ParserOptionsFree> parserOptions(
            g_mime_parser_options_clone(LooseParserOptions()));
        g_mime_parser_options_set_warning_callback(parserOptions.get(), OnParserWarning,
                                                   &result.warnings);
        // Parts keep referring to the stream's bytes (in memory or in the file) without copies;
        // the stream outlives every parsed object.
        GPtr<GMimeStream> stream(file.TakeStream(begin, end));
        GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        g_mime_parser_set_persist_stream(parser.get(), TRUE);
        g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
        GPtr<GMimeMessage> message(
            g_mime_parser_construct_message(parser.get(), parserOptions.get()));
        if (!message || !HasHeaderField(message.get())) {
            result.error = "not a message: no header field could be read";
            return result;
        }

        MessageSource source;
        source.path = path;
        source.partialEmlx = HasPartialEmlxName(path);
        source.inMemoryLimit = options.inMemoryAttachmentLimit;
        source.inMemoryTotalLimit = options.inMemoryTotalLimit;
        uint64_t inMemoryTotal = 0;
        source.inMemoryTotal = &inMemoryTotal;
        source.warnings = &result.warnings;
        BuildMessage(message.get(), source, &top, modified, 0, "", result.content);
        result.ok = true;
    } catch (const std::exception& e) {
        result.ok = false;
        result.error = std::string("cannot import ") + path + ": " + e.what();
    }
    return result;
}

}  // namespace mime
