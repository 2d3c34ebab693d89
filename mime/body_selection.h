#pragma once

#include <gmime/gmime.h>

#include <cstdint>
#include <unordered_set>
#include <vector>

namespace mime {

// Bodies and TNEF streams above this are kept as attachments rather than decoded in memory.
inline constexpr uint64_t kMaxInMemoryText = 64ull * 1024 * 1024;

// The parts that make up the message body, and the parts that are used up by it (they do not
// become attachments).
struct BodyChoice {
    GMimePart* html = nullptr;
    GMimePart* plain = nullptr;
    GMimePart* enriched = nullptr;
    // Inline text and image parts of a mixed multipart shown as one HTML body, in order.
    std::vector<GMimePart*> aggregate;
    std::unordered_set<GMimeObject*> consumed;
    bool any() const { return html || plain || enriched || !aggregate.empty(); }
    bool rich() const { return html || enriched || !aggregate.empty(); }
};

// Finds the body of an entity: the first text candidate; inside an alternative the richest
// (HTML or enriched over plain); the HTML root of a related part; for mixed and other
// multiparts the first child, or all of them when they are inline text and pictures only.
// `budget` bounds how deep the search goes. False when the entity has no body.
bool PickBody(GMimeObject* object, BodyChoice& choice, int budget);

}  // namespace mime
