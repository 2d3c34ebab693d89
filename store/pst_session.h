#pragma once

#include <memory>

#include "store/object_model.h"

namespace store {

// The object model on our own PST engine and message reader: sessions that create or open
// Unicode data files, no Outlook involved.
class PstSessionFactory : public SessionFactory {
  public:
    std::shared_ptr<Session> CreateSession() override;
    std::shared_ptr<MapiUtils> CreateMapiUtils() override;
};

}  // namespace store
