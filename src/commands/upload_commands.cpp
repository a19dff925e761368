#include "commands/upload_commands.h"

#include <exception>
#include <string>
#include <vector>

#include "commands/context_access.h"
#include "commands/db_context.h"
#include "dataset/params.h"
#include "dataset/query.h"
#include "protocol/command_invocation.h"

namespace velquarn {

namespace {

constexpr const char* kEndOfUpload = ".";

// The upload table: one column DATA of type char(n), n as the client sent it.
std::string UploadCreateStatement(const std::string& table, const std::string& record_size) {
  return "create table " + table + " ( DATA char(" + record_size + "))";
}

// The insert statement with the record as the parameter DATA.
std::string UploadInsertStatement(const std::string& table) {
  return "insert into " + table + " values(:DATA)";
}

// The table and record size of an upload command; false when the reply
// (591, 592, or the plain 200 of the separator form) is already decided.
bool TakeUploadParams(TCommandInvocation& invocation, std::string& table,
                      std::string& record_size) {
  const std::vector<std::string>& params = invocation.Params();
  if (params.empty()) {
    invocation.SetReply(591, "File name parameter is missing");
    return false;
  }
  if (params.size() < 2) {
    invocation.SetReply(592, "Recordsize or separator character is required parameter");
    return false;
  }
  table = params[0];
  record_size = params[1];
  // The separator form is accepted but does nothing: no line is read.
  return record_size.front() != '#';
}

// Creates the upload table; the usual failure is that it exists already,
// so every error is ignored, the missing query of a connection without
// `open` included.
void CreateUploadTable(TcsQuery* query, const std::string& table, const std::string& record_size) {
  try {
    if (query == nullptr) return;
    query->SetSQLText(UploadCreateStatement(table, record_size));
    query->Open();
  } catch (const std::exception&) {
  }
}

// Runs statement on the query's own connection; it returns no rows.
void RunStatement(TcsQuery& query, const std::string& statement) {
  query.SetSQLText(statement);
  query.Open();
}

// Reads records until "." and inserts each as the parameter DATA of the
// query's insert statement, acknowledging each with an empty line.
void InsertRecords(TCommandInvocation& invocation, TcsQuery& query, std::string line) {
  while (line != kEndOfUpload) {
    query.Params().ParamByName("DATA").SetAsString(line);
    query.Close();
    query.Open();
    invocation.WriteLine("");
    line = invocation.ReadLine();
  }
  invocation.SetReply(200, "OK");
}

}  // namespace

void SndfCommand(TCommandInvocation& invocation) {
  std::string table;
  std::string record_size;
  if (!TakeUploadParams(invocation, table, record_size)) return;
  CreateUploadTable(DBContextOf(invocation).Query(), table, record_size);
  TcsQuery& query = RequireQuery(invocation);
  RunStatement(query, "delete from " + table);
  // Each record travels as a bound parameter rather than pasted into the
  // statement as a quoted literal: with a literal, a database where the
  // backslash escapes inside literals (PostgreSQL with
  // standard_conforming_strings off, MySQL) corrupts such records or lets a
  // record end the literal and run SQL of its own, and the statement's
  // marker parsing would also rewrite a record's "::" and ":name" text.
  query.SetSQLText(UploadInsertStatement(table));
  InsertRecords(invocation, query, invocation.ReadLine());
}

void CrtfCommand(TCommandInvocation& invocation) {
  std::string table;
  std::string record_size;
  if (!TakeUploadParams(invocation, table, record_size)) return;
  TcsQuery* query = DBContextOf(invocation).Query();
  CreateUploadTable(query, table, record_size);
  try {
    if (query != nullptr) query->ClearSQL();
  } catch (const std::exception&) {
  }
  std::string line = invocation.ReadLine();
  TcsQuery& insert_query = RequireQuery(invocation);
  insert_query.SetSQLText(UploadInsertStatement(table));
  InsertRecords(invocation, insert_query, std::move(line));
}

void AddrecCommand(TCommandInvocation& /*invocation*/) {}

}  // namespace velquarn
