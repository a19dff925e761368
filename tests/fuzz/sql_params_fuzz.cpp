// The parameter-marker parser on any statement text. Only "::" and
// ":name" are rewritten, each to nothing longer, so the text sent to the
// driver is never longer; every parameter found was a ":" in the
// statement; the text comes out the same whether parameters are collected.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "dataset/params.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view sql(reinterpret_cast<const char*>(data), size);
  velquarn::TParams params;
  const std::string parsed = velquarn::ParseSQL(sql, &params);
  Check(parsed.size() <= sql.size());
  size_t colons = 0;
  for (char c : sql) colons += c == ':';
  Check(static_cast<size_t>(params.Count()) <= colons);
  // The same text without a parameter list gives the same result.
  Check(velquarn::ParseSQL(sql, nullptr) == parsed);
  return 0;
}
