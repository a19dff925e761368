// The line reader fed the input in pieces whose sizes the input chooses,
// taking lines and raw byte runs in between. Everything taken is checked
// against the bytes appended: a line is the bytes up to a LF less one CR
// before it, never longer than the maximum, and an overlong partial line is
// reported before the buffer grows past the maximum.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "protocol/line_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using velquarn::TLineReader;
  FuzzedDataProvider input(data, size);
  TLineReader reader(input.ConsumeIntegralInRange<size_t>(0, 80));
  const size_t max_line = reader.MaxLineLength();
  std::string stream;  // every byte appended
  size_t taken = 0;    // bytes of stream consumed
  std::string out;
  while (input.remaining_bytes() > 0) {
    const uint8_t action = input.ConsumeIntegral<uint8_t>();
    if (action < 160) {
      const std::string piece =
          input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(0, 64));
      reader.Append(piece);
      stream += piece;
    } else if (action < 240) {
      const TLineReader::TResult result = reader.TakeLine(out);
      const size_t lf = stream.find('\n', taken);
      if (result == TLineReader::TResult::kLine) {
        Check(lf != std::string::npos);
        size_t end = lf;
        if (end > taken && stream[end - 1] == '\r') --end;
        Check(out == stream.substr(taken, end - taken));
        Check(out.size() <= max_line);
        taken = lf + 1;
      } else if (result == TLineReader::TResult::kNeedMore) {
        Check(lf == std::string::npos);
        // Memory stays bounded: the partial line (its CR aside) fits.
        Check(stream.size() - taken <= max_line + 1);
      } else {
        size_t length = (lf == std::string::npos ? stream.size() : lf) - taken;
        const size_t last = lf == std::string::npos ? stream.size() : lf;
        if (length > 0 && stream[last - 1] == '\r') --length;
        Check(length > max_line);
        return 0;  // the connection is closed on an overlong line
      }
    } else {
      const size_t count = input.ConsumeIntegralInRange<size_t>(0, 16);
      const bool took = reader.TakeBytes(count, out);
      Check(took == (stream.size() - taken >= count));
      if (took) {
        Check(out == stream.substr(taken, count));
        taken += count;
      }
    }
    Check(reader.Buffered() == stream.size() - taken);
  }
  return 0;
}
