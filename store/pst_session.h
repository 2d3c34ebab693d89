#pragma once

#include <cstddef>
#include <memory>

#include "pst/messaging/message_content.h"
#include "store/object_model.h"

namespace store {

// The object model on our own PST engine and message reader: sessions that create or open
// Unicode data files, no Outlook involved.
// The named property each stored message keeps its source digest in (Mail::SourceDigest): a
// property set of this program's own and a string name.
const pst::messaging::PropertyName& SourceDigestName();

class PstSessionFactory : public SessionFactory {
  public:
    // Sessions read the messages to import ahead on `readingThreads` threads (0: the
    // default, DefaultReadingThreads()).
    explicit PstSessionFactory(size_t readingThreads = 0);
    std::shared_ptr<Session> CreateSession() override;
    std::shared_ptr<MapiUtils> CreateMapiUtils() override;

  private:
    size_t readingThreads_;
};

// One reading thread fewer than the machine has cores (the storing thread takes one), but two
// on two cores and one on one; EML2PST_READING_THREADS sets another number.
size_t DefaultReadingThreads();

}  // namespace store
