// The client's reading of the server's field-definition document (the reply
// text of `sql` and the payload of `info`): one TColumnDef per <field>, in
// order. Pure functions; thread-safe.
#pragma once

#include <string_view>
#include <vector>

#include "client/client_value.h"

namespace velquarn {

// Raises EDecodeError (row_decoder.h) naming what was expected when the text
// is not such a document: no <fielddefs> root, an unclosed element, a size
// that is not a number, an unknown entity.
std::vector<TColumnDef> ParseFieldDefs(std::string_view xml);

// The column kind of a datatype name; unknown names read as text.
TColumnKind ColumnKindOf(std::string_view data_type, bool has_precision);

}  // namespace velquarn
