#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pst/messaging/message_content.h"
#include "pst/messaging/message_store.h"
#include "pst/messaging/store_verifier.h"
#include "tests/support/temp_dir.h"

namespace pst::messaging::testing {

// A fresh folder under the system temp folder, removed with everything in it.
using TempDir = testsupport::TempDir;

inline std::filesystem::path SharedDir() {
    return EML2PST_SHARED_DIR;
}

inline void ExpectVerified(const std::filesystem::path& file) {
    auto report = VerifyStoreFile(file);
    for (const auto& e : report.errors) ADD_FAILURE() << file << ": " << e;
}

inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return out;
}

inline Recipient MakeRecipient(int type, const std::string& name, const std::string& address) {
    Recipient r;
    r.props.Set(PropertyValue::Int32(0x0C150003, type));
    r.props.Set(PropertyValue::StringUtf8(0x3001001F, name));
    r.props.Set(PropertyValue::StringUtf8(0x3002001F, "SMTP"));
    r.props.Set(PropertyValue::StringUtf8(0x3003001F, address));
    r.props.Set(PropertyValue::StringUtf8(0x39FE001F, address));
    return r;
}

inline Attachment MakeAttachment(const std::string& name, std::vector<uint8_t> data) {
    Attachment a;
    a.props.Set(PropertyValue::StringUtf8(0x3707001F, name));
    a.props.Set(PropertyValue::StringUtf8(0x3704001F, name));
    a.props.Set(PropertyValue::StringUtf8(0x370E001F, "application/octet-stream"));
    a.props.Set(PropertyValue(0x37010102, std::move(data)));
    return a;
}

// A plain e-mail: subject, sender, body, times, recipients.
inline MessageContent MakeMessage(const std::string& subject, const std::string& body,
                                  uint64_t submitTime = 132000000000000000ull) {
    MessageContent m;
    m.props.Set(PropertyValue::StringUtf8(0x001A001F, "IPM.Note"));
    m.props.Set(PropertyValue::StringUtf8(0x0037001F, subject));
    m.props.Set(PropertyValue::StringUtf8(0x0070001F, subject));
    m.props.Set(PropertyValue::StringUtf8(0x0042001F, "Ann Sender"));
    m.props.Set(PropertyValue::StringUtf8(0x0065001F, "ann@example.org"));
    m.props.Set(PropertyValue::StringUtf8(0x0064001F, "SMTP"));
    m.props.Set(PropertyValue::StringUtf8(0x0C1A001F, "Ann Sender"));
    m.props.Set(PropertyValue::StringUtf8(0x0C1F001F, "ann@example.org"));
    m.props.Set(PropertyValue::StringUtf8(0x0C1E001F, "SMTP"));
    m.props.Set(PropertyValue::StringUtf8(0x1000001F, body));
    m.props.Set(PropertyValue::Time(0x00390040, submitTime));
    m.props.Set(PropertyValue::Time(0x0E060040, submitTime + 600000000));
    m.props.Set(PropertyValue::Int32(0x0E070003, 0x01));
    m.props.Set(PropertyValue::Int32(0x00360003, 0));
    m.recipients.push_back(MakeRecipient(1, "Bob To", "bob@example.org"));
    m.recipients.push_back(MakeRecipient(2, "Carol Cc", "carol@example.org"));
    return m;
}

}  // namespace pst::messaging::testing
