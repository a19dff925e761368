// Editing rows of a query with SQL generated from TUpdateParams.
//
//   edit_rows [FILE]
//
// Opens the SQLite database FILE (default edit_rows.db in the current
// folder) through the unixODBC driver "SQLite3", puts a fresh sample table
// "customer" into it (an existing one is replaced), prints it, then through
// one query edits a row, inserts one and deletes one, each written to the
// database by the statement the query generates, and prints the table as the
// database now holds it.
#include <cstdio>
#include <exception>
#include <string>

#include "common/exceptions.h"
#include "dataset/query.h"
#include "dataset/update_params.h"
#include "odbc/odbc_database.h"

namespace {

using velquarn::TcsCustomDatabase;
using velquarn::TcsQuery;

void PrintTable(TcsCustomDatabase& db, const char* title) {
  TcsQuery query;
  query.SetDataBaseName(db.DataBaseName());
  query.SetSQLText("select id, name, city, balance from customer order by id");
  query.Open();
  std::printf("%s\n", title);
  for (int i = 0; i < query.FieldCount(); ++i) {
    std::printf("  %-14s", query.Fields(i).FieldName().c_str());
  }
  std::printf("\n");
  for (; !query.Eof(); query.Next()) {
    for (int i = 0; i < query.FieldCount(); ++i) {
      const velquarn::TField& field = query.Fields(i);
      std::printf("  %-14s", field.IsNull() ? "(null)" : field.AsString().c_str());
    }
    std::printf("\n");
  }
  std::printf("\n");
}

void Run(const std::string& file) {
  velquarn::TcsODBCDatabase db;
  db.SetLoginPrompt(false);
  db.SetODBCDriverName("SQLite3");
  db.ODBCDriver()->DriverParams().Add("Database=" + file);
  db.SetName("edit_rows");  // registers it, so queries find it by name

  db.ExecSQL("drop table if exists customer", nullptr, nullptr);
  db.ExecSQL(
      "create table customer (id integer primary key, name varchar(40), "
      "city varchar(40), balance numeric(12,2))",
      nullptr, nullptr);
  db.ExecSQL(
      "insert into customer values (1, 'Ada Lindqvist', 'Malmo', 1520.5), "
      "(2, 'Bo Ek', 'Lund', -20), (3, 'Carla Ruiz', 'Goteborg', 0)",
      nullptr, nullptr);
  PrintTable(db, "Before:");

  TcsQuery query;
  query.SetDataBaseName(db.DataBaseName());
  query.SetSQLText("select * from customer order by id");
  // Rows are written to table customer, found by its key id; an update
  // sends the changed columns only.
  velquarn::TUpdateParams update;
  update.SetTableName("customer");
  update.KeyFields().Add("id");
  update.UpdateFields().SetCommaText("id,name,city,balance");
  update.SetUpdateMode(velquarn::upWhereChanged);
  velquarn::AssignUpdateParams(query, &update);
  query.Open();

  // Edit: Bo Ek moves to Uppsala and pays his debt.
  query.Locate("id", velquarn::TVariant(2), 0);
  query.Edit();
  query.FieldByName("city").SetAsString("Uppsala");
  query.FieldByName("balance").SetAsFloat(0);
  query.Post();

  // Insert a new customer at the end.
  query.Append();
  query.FieldByName("id").SetAsInteger(4);
  query.FieldByName("name").SetAsString("Dag Holm");
  query.FieldByName("city").SetAsString("Visby");
  query.FieldByName("balance").SetAsFloat(99.95);
  query.Post();

  // Delete Carla Ruiz.
  query.Locate("id", velquarn::TVariant(3), 0);
  query.Delete();
  query.Close();

  PrintTable(db, "After editing id 2, inserting id 4 and deleting id 3:");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : "edit_rows.db";
  try {
    Run(file);
  } catch (const velquarn::EAbort&) {
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "edit_rows: %s\n", error.what());
    return 1;
  }
  return 0;
}
