#include "mime/file_slice.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "fs/file.h"
#include "mime/gmime_support.h"

namespace mime {

void ReadSlice(const FileSlice& slice, const std::function<void(std::span<const uint8_t>)>& sink) {
    EnsureGMime();
    if (!slice.prefix.empty()) sink(slice.prefix);
    int fd = -1;
    try {
        fd = fs::File::Open(slice.path, fs::File::Mode::Read).TakeCrtDescriptor();
    } catch (const fs::FileError& e) {
        throw std::runtime_error("cannot open " + slice.path + ": " + e.what());
    }
    // The stream owns the descriptor from here on.
    GPtr<GMimeStream> file(g_mime_stream_fs_new_with_bounds(fd, gint64(slice.offset),
                                                            gint64(slice.offset + slice.length)));
    GPtr<GMimeStream> filtered(g_mime_stream_filter_new(file.get()));
    if (slice.encoding != GMIME_CONTENT_ENCODING_DEFAULT) {
        GPtr<GMimeFilter> decoder(g_mime_filter_basic_new(slice.encoding, FALSE));
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), decoder.get());
    }
    if (slice.crlf) {
        GPtr<GMimeFilter> lineEnds(g_mime_filter_unix2dos_new(FALSE));
        g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), lineEnds.get());
    }
    std::vector<uint8_t> buf(256 * 1024);
    while (true) {
        ssize_t n =
            g_mime_stream_read(filtered.get(), reinterpret_cast<char*>(buf.data()), buf.size());
        if (n < 0)
            throw std::runtime_error("cannot read " + slice.path + ": " + std::strerror(errno));
        if (n == 0) break;
        sink(std::span<const uint8_t>(buf.data(), size_t(n)));
    }
}

uint64_t DecodedSize(const FileSlice& slice) {
    uint64_t total = 0;
    ReadSlice(slice, [&total](std::span<const uint8_t> chunk) { total += chunk.size(); });
    return total;
}

pst::PropertyValue SliceProperty(uint32_t tag, const FileSlice& slice, uint64_t decodedSize) {
    return pst::PropertyValue::Stream(
        tag, decodedSize, [slice](const std::function<void(std::span<const uint8_t>)>& sink) {
            ReadSlice(slice, sink);
        });
}

}  // namespace mime
