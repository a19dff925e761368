// The text of the SQL that writes an edited, inserted or deleted row from
// TUpdateParams, and the rule for when a field counts as changed.
//
// A statement is built as lines, joined with one blank after each line (so
// the text ends in a blank):
//   insert into "dbo"."Orders" ("ID" , "NAME") Values(:ID , :NAME)
//   update "dbo"."Orders" set "NAME"=:NAME where  "ID"=:OLD_ID and ...
//   delete from "dbo"."Orders" where  "ID"=:OLD_ID
// The where clause (update and delete) always has its "where " line, then
// the key-field conditions and, by update mode, conditions on the other
// update fields (upWhereAll: all of them; upWhereChanged: the changed ones),
// each "=:OLD_name", or " is null" for a null old value; blob and memo
// fields never take part in it.
//
// Everything here is a pure function of names, field kinds and null/changed
// flags, and raises only EDatabaseError. Thread-safe.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/db_types.h"
#include "dataset/variant.h"

namespace velquarn {

class TField;
class TStringList;
class TUpdateParams;

// The text of the failure when a write affects no row.
inline constexpr char kNoRowsAffected[] = "Update failed. No rows where affected by transaction.";

// How a field stands when its row is written.
struct TUpdateFieldInfo {
  TFieldType data_type = ftUnknown;
  bool is_null = false;      // the value being written is null
  bool old_is_null = false;  // the held row's value is null
  bool changed = false;      // see FieldChanged
};

// Finds a dataset field by name (letter case ignored); nullopt when the
// dataset has no such field.
using TUpdateFieldLookup = std::function<std::optional<TUpdateFieldInfo>(const std::string&)>;

// The identifier quote of the SQL standard, used unless the database's
// driver reports another one (TcsCustomSQLDriver::IdentifierQuote).
inline constexpr char kDefaultIdentifierQuote = '"';

// A table name in quotes: unchanged when it already begins with one;
// otherwise split at the first "." only, each part quoted with its inner
// quotes doubled ("a.b.c" -> "a"."b.c"). The quote is the database's
// identifier quote: a double quote, or a backquote on a server that reads
// double quotes as a string.
std::string QuoteTableName(std::string_view name, char quote = kDefaultIdentifierQuote);
// A field name in quotes. Inner quotes are doubled, so that a name holding
// one still reads as one identifier.
std::string QuoteFieldName(std::string_view name, char quote = kDefaultIdentifierQuote);
// The parameter reference for a name: ":" + name. A name holding a character
// that would end the reference early (blank, comma, semicolon, ")", CR, LF)
// is written in double quotes, :"my col", which the parameter parser reads
// back as the whole name.
std::string ParamReference(std::string_view name);

// The lines of each statement, identifiers in quote. Insert and update give no lines when nothing
// is to be sent (no update fields; for update, no changed field).
// InsertSQLLines with suppress_nulls leaves out fields whose value is null;
// each must then exist ("Field '%s' not found"), and when every field is left
// out it raises EDatabaseError "Cannot insert into %s: every update field is
// null" rather than send a statement without columns.
std::vector<std::string> InsertSQLLines(const TUpdateParams& update, bool suppress_nulls,
                                        const TUpdateFieldLookup& lookup,
                                        char quote = kDefaultIdentifierQuote);
std::vector<std::string> ModifySQLLines(const TUpdateParams& update,
                                        const TUpdateFieldLookup& lookup,
                                        char quote = kDefaultIdentifierQuote);
std::vector<std::string> DeleteSQLLines(const TUpdateParams& update,
                                        const TUpdateFieldLookup& lookup,
                                        char quote = kDefaultIdentifierQuote);
// The where lines shared by update and delete.
std::vector<std::string> WhereSQLLines(const TUpdateParams& update,
                                       const TUpdateFieldLookup& lookup,
                                       char quote = kDefaultIdentifierQuote);

// Each line followed by CR LF, then every CR LF replaced by one blank.
std::string JoinSQLLines(const std::vector<std::string>& lines);
// The joined statement for the kind; empty when nothing is to be sent.
std::string GenerateUpdateSQL(TUpdateKind kind, const TUpdateParams& update, bool suppress_nulls,
                              const TUpdateFieldLookup& lookup,
                              char quote = kDefaultIdentifierQuote);

// The families of field that the change rule tells apart.
enum class TChangeRule : uint8_t {
  kBlob,    // blob and memo fields: the modified flag, or a different value
  kString,  // string fields: trailing blanks do not count
  kBytes,   // byte-array fields: length or any byte
  kValue,   // all others: the values
};
TChangeRule ChangeRuleOf(const TField& field);
// Whether old_value -> new_value counts as a change under the rule. Null
// counts as a value of its own (null and "" differ).
bool ValueChanged(TChangeRule rule, const TVariant& old_value, const TVariant& new_value,
                  bool modified);
// Whether a field of the dataset being posted counts as changed: its held
// row value against the edit buffer.
bool FieldChanged(const TField& field);

}  // namespace velquarn
