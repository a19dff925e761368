// Writing a result set to the terminal or a script in one of the output
// formats. A result arrives page by page (`get 1000`), so printers stream:
// the table takes its column widths from the first page. Instances are used
// by one thread and write to the stream they were given.
#pragma once

#include <memory>
#include <ostream>
#include <vector>

#include "cli/cli_options.h"
#include "client/client_value.h"

namespace velquarn {

class TResultPrinter {
 public:
  virtual ~TResultPrinter() = default;
  virtual void Begin(const std::vector<TColumnDef>& columns) = 0;
  virtual void Page(const std::vector<TClientRow>& rows) = 0;
  // row_count rows were printed; cancelled: the reading was stopped.
  virtual void End(size_t row_count, bool cancelled) = 0;
};

// kRaw is not a printer format (the session copies the payload); it gets
// the table printer.
std::unique_ptr<TResultPrinter> MakeResultPrinter(TOutputFormat format, std::ostream& out);

// A value as the printers show it, in UTF-8; NULL is "NULL" in tables and
// empty in CSV.
std::string DisplayValue(const TClientValue& value, const std::string& null_text);

}  // namespace velquarn
