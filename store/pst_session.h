#pragma once

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
    std::shared_ptr<Session> CreateSession() override;
    std::shared_ptr<MapiUtils> CreateMapiUtils() override;
};

}  // namespace store
