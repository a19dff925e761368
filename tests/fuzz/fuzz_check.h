// The targets' one assertion: a property that does not hold aborts, which
// libFuzzer reports as a finding with the input that broke it (an assert
// would vanish from a build with NDEBUG).
#pragma once

#include <cstdlib>

inline void Check(bool condition) {
  if (!condition) std::abort();
}
