// TUpdateParams: what a query needs to write its edited rows with generated
// SQL (update_sql.h): the table, its key fields, the fields to write and how
// the where clause finds the row. A query owns one as its UpdateParams;
// UpdateObject (a TSQLUpdate) and UpdateParams are mutually exclusive.
//
// Writing a row (ApplyUpdate) sends one statement on the database's main
// connection, with "OLD_" parameters bound to the held row's values and the
// others to the edited values. Failures:
//   - no row affected: EDatabaseError "Update failed. No rows where affected
//     by transaction."; with an OnUpdateError handler on the query, the
//     handler is asked once and uaAbort turns the failure into EAbort;
//   - driver errors (EcsSQLError) pass through, after the same question to
//     OnUpdateError (uaAbort: EAbort);
//   - an insert with SuppressNullsOnInsert where every update field is null:
//     EDatabaseError, nothing sent.
// An update where no update field changed, and any write with no update
// fields, sends nothing and succeeds.
//
// Instances are used by the thread of the query they serve.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/string_list.h"
#include "dataset/db_types.h"
#include "dataset/update_writer.h"

namespace velquarn {

class TcsDataset;

// A parameter named OLD_<field> takes the held (unedited) value of <field>.
inline constexpr std::string_view kOldValuePrefix = "OLD_";
// The field name behind an OLD_ parameter name, or nullopt for another name.
std::optional<std::string_view> OldValueField(std::string_view param_name);

class TUpdateParams : public TcsUpdateWriter {
 public:
  TUpdateParams() = default;

  // Field names, one per line, in the order the statements use them.
  const TStringList& KeyFields() const { return key_fields_; }
  TStringList& KeyFields() { return key_fields_; }
  // Copies the list; null clears it.
  void SetKeyFields(const TStringList* fields);
  const TStringList& UpdateFields() const { return update_fields_; }
  TStringList& UpdateFields() { return update_fields_; }
  void SetUpdateFields(const TStringList* fields);
  const std::string& TableName() const { return table_name_; }
  void SetTableName(std::string name) { table_name_ = std::move(name); }
  TUpdateMode UpdateMode() const { return update_mode_; }
  void SetUpdateMode(TUpdateMode mode) { update_mode_ = mode; }

  // Copies all four properties.
  void Assign(const TUpdateParams& source);

  // Rows can be written only to a named table.
  bool CanWrite() const override { return !table_name_.empty(); }
  // Writes the dataset's active row (ukModify, ukInsert) or deletes the row
  // at its cursor (ukDelete) with generated SQL; see the file comment.
  void ApplyUpdate(TcsDataset& dataset, TUpdateKind kind) override;

 private:
  TStringList key_fields_;
  TStringList update_fields_;
  std::string table_name_;
  TUpdateMode update_mode_ = upWhereChanged;
};

// The failure of a write that affected no row: offers EDatabaseError
// "Update failed. No rows where affected by transaction." to the dataset's
// OnUpdateError (action starting as uaFail), raises EAbort when it answers
// uaAbort and that EDatabaseError otherwise.
[[noreturn]] void RaiseNoRowsAffected(TcsDataset& dataset, TUpdateKind kind);

// Assigns update parameters to a query as its UpdateParams property does:
// outside loading the query's UpdateObject is cleared; the query's
// UpdateParams are created when missing and take a copy of value. A null
// value discards them.
void AssignUpdateParams(TcsDataset& query, const TUpdateParams* value);

}  // namespace velquarn
