// Options for starting the real binary from an end-to-end test program.
#pragma once

#include "support/velquarn_process.h"

namespace velquarn::testing {

inline TVelquarnProcessOptions VelquarnOptions() {
  TVelquarnProcessOptions options;
  options.binary = VELQUARN_BINARY;
  return options;
}

}  // namespace velquarn::testing
