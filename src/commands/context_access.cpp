#include "commands/context_access.h"

#include "commands/db_context.h"
#include "common/exceptions.h"
#include "protocol/command_invocation.h"

namespace velquarn {

namespace {

constexpr const char* kNoDatabase = "No database open";

}  // namespace

TDBContext& DBContextOf(TCommandInvocation& invocation) {
  auto* context = dynamic_cast<TDBContext*>(&invocation.Context());
  if (context == nullptr) throw Exception("The connection has no database context");
  return *context;
}

TcsQuery& RequireQuery(TCommandInvocation& invocation) {
  TcsQuery* query = DBContextOf(invocation).Query();
  if (query == nullptr) throw Exception(kNoDatabase);
  return *query;
}

TcsODBCDatabase& RequireDatabase(TCommandInvocation& invocation) {
  TcsODBCDatabase* database = DBContextOf(invocation).Database();
  if (database == nullptr) throw Exception(kNoDatabase);
  return *database;
}

}  // namespace velquarn
