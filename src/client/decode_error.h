// EDecodeError: a reply, counted block or document from the server that the
// client cannot read. The message names what was expected and where.
#pragma once

#include "common/exceptions.h"

namespace velquarn {

class EDecodeError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EDecodeError"; }
};

}  // namespace velquarn
