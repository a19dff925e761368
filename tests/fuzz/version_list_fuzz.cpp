// The client version list as fetched over HTTP: any body, checked against
// a module named in it (or any name) with any date and day limit. Errors
// are the documented exceptions; a packed date that converts converts back
// to the same bits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "fuzz_check.h"
#include "service/version_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const auto date = input.ConsumeIntegral<int32_t>();
  const auto max_days = input.ConsumeIntegral<int64_t>();
  const auto pick = input.ConsumeIntegral<uint8_t>();
  std::string module = input.ConsumeRandomLengthString(16);
  const std::string body = input.ConsumeRemainingBytesAsString();

  velquarn::TClientVersionList list;
  list.SetText(body);
  const auto lines = list.Snapshot();
  for (const std::string& line : *lines) {
    Check(line.find_first_of("\r\n") == std::string::npos);
    const std::vector<std::string> items = velquarn::SplitVersionItems(line);
    Check(items.size() <= line.size() + 1);
  }
  if (!lines->empty()) {
    const std::vector<std::string> items =
        velquarn::SplitVersionItems((*lines)[pick % lines->size()]);
    if (!items.empty() && pick >= 64) module = items[0];
  }
  try {
    list.Check(module, date, max_days);
  } catch (const velquarn::Exception&) {
    // A bad client date, a missing or unreadable listed date.
  }
  try {
    const velquarn::TDateTime moment = velquarn::DosDateTimeToDateTime(date);
    Check(velquarn::DateTimeToDosDateTime(moment) == date);
  } catch (const velquarn::Exception&) {
  }
  return 0;
}
