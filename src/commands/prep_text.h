// The text rules of the prepared-statement and procedure-call commands: how
// an `exec` value is unquoted, how the `call` text is cut into the procedure
// name and its arguments, and the call statement built from them. Pure
// functions on strings; safe to call from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velquarn {

// An `exec` value as assigned to its parameter. A value that begins with a
// double quote is a quoted string: the quotes are removed, every doubled
// double quote inside becomes one, text after the closing quote is dropped
// and a missing closing quote takes the text to the end. A quoted string
// whose content is empty ("" or a lone ") stays as it was sent. Any other
// value is returned unchanged.
std::string ExecParamValue(std::string_view value);

// Cuts the raw `call` text into items, strictly at commas: blanks belong to
// the items and two adjacent commas give an empty item. An item that begins
// with a double quote ends at the next single double quote (a doubled one
// stands for one quote and a comma inside belongs to the item); the quotes
// are removed, and text between the closing quote and the next comma is an
// item of its own. A comma at the very end adds one empty item; an empty text
// gives no items.
std::vector<std::string> SplitCallList(std::string_view text);

// The lines of the call statement for a procedure with argument_count
// arguments: "call NAME", then, when there are arguments, "(", ":p1",
// ",:p2" ... ",:pN" and ")". The parameters are therefore named p1 to pN.
std::vector<std::string> CallStatementLines(std::string_view procedure, int argument_count);

}  // namespace velquarn
