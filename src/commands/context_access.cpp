#include "commands/context_access.h"

#include "common/exceptions.h"
#include "protocol/command_invocation.h"
#include "protocol/db_context.h"

namespace velquarn {

namespace {

constexpr const char* kNoDatabase = "No database open";

}  // namespace

TcsQuery& RequireQuery(TCommandInvocation& invocation) {
  TcsQuery* query = invocation.DBContext().Query();
  if (query == nullptr) throw Exception(kNoDatabase);
  return *query;
}

TcsODBCDatabase& RequireDatabase(TCommandInvocation& invocation) {
  TcsODBCDatabase* database = invocation.DBContext().Database();
  if (database == nullptr) throw Exception(kNoDatabase);
  return *database;
}

}  // namespace velquarn
