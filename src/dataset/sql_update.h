// TSQLUpdate: hand-written statements that write a query's edited rows, one
// per update kind: ModifySQL (ukModify), InsertSQL (ukInsert) and DeleteSQL
// (ukDelete). A query uses it as its UpdateObject, which excludes generated
// SQL (UpdateParams).
//
// The statements name their values as parameters: ":NAME" takes the value
// being written, ":OLD_NAME" the held row's value of field NAME. A name is
// looked up among the query's fields, then among the fields of its master
// dataset (DataSource); a parameter without a field stays unbound. Each kind
// runs on a statement dataset of its own, created on first use for the
// query's database, on the database's main connection.
//
// Failures: a statement that affects no row raises "Update failed. No rows
// where affected by transaction." (see RaiseNoRowsAffected for the query's
// OnUpdateError); driver errors pass through as EcsSQLError.
//
// Instances are used by the thread of the query they serve.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "common/string_list.h"
#include "dataset/db_types.h"
#include "dataset/update_writer.h"

namespace velquarn {

class TcsDataset;

class TSQLUpdate : public TcsUpdateWriter {
 public:
  TSQLUpdate();
  ~TSQLUpdate() override;

  // The statement texts. A changed text is taken by the kind's statement
  // dataset at its next use.
  TStringList& SQL(TUpdateKind kind) { return sql_[kind]; }
  const TStringList& SQL(TUpdateKind kind) const { return sql_[kind]; }
  void SetSQL(TUpdateKind kind, const TStringList& sql) { sql_[kind] = sql; }
  TStringList& ModifySQL() { return sql_[ukModify]; }
  TStringList& InsertSQL() { return sql_[ukInsert]; }
  TStringList& DeleteSQL() { return sql_[ukDelete]; }
  void SetModifySQL(const TStringList& sql) { SetSQL(ukModify, sql); }
  void SetInsertSQL(const TStringList& sql) { SetSQL(ukInsert, sql); }
  void SetDeleteSQL(const TStringList& sql) { SetSQL(ukDelete, sql); }

  // The query served (borrowed), or null. Setting it makes this object the
  // query's UpdateObject, after detaching it from a query it served before,
  // and (outside loading) discards the query's UpdateParams; null detaches
  // it.
  TcsDataset* DataSet() const { return query_; }
  void SetDataSet(TcsDataset* query);

  // The kind's statement dataset, created on first use with the served
  // query's DataBaseName and holding the kind's current text.
  // REQUIRES: a query is served.
  TcsDataset& Query(TUpdateKind kind);
  // Binds the parameters of the kind's statement from the served query.
  void SetParams(TUpdateKind kind);
  // Binds, runs the statement and raises the no-rows failure when it
  // affected no row.
  void Apply(TUpdateKind kind);

  // Serves the dataset (as SetDataSet) and applies the kind.
  void ApplyUpdate(TcsDataset& dataset, TUpdateKind kind) override;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  std::array<TStringList, 3> sql_;
  std::array<std::unique_ptr<TcsDataset>, 3> statements_;
  std::array<std::string, 3> taken_text_;  // the text each statement holds
  TcsDataset* query_ = nullptr;            // borrowed
};

}  // namespace velquarn
