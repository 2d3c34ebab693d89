#include "pst/ndb/errors.h"

#include <cstdio>

namespace pst::ndb {

std::string Hex(uint64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(value));
    return buf;
}

}  // namespace pst::ndb
