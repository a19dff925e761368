#include "commands/prep_commands.h"

#include <exception>
#include <string>
#include <vector>

#include "commands/context_access.h"
#include "commands/prep_text.h"
#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/params.h"
#include "dataset/query.h"
#include "odbc/odbc_database.h"
#include "protocol/command_invocation.h"

namespace velquarn {

namespace {

// One line per parameter, in parameter order: name, "=", value (empty for
// null), sent without quoting. Input-only parameters are left out unless
// with_input is set; their value is the one sent.
void AddParamResultLines(TCommandInvocation& invocation, TParams& params, bool with_input) {
  for (int i = 0; i < params.Count(); ++i) {
    TParam& param = params.Items(i);
    if (param.ParamType() == ptInput && !with_input) continue;
    invocation.AddResponse(param.Name() + "=" +
                           (param.IsNull() ? std::string() : param.AsString()));
  }
}

// The directions the database reports for the called procedure's
// parameters, when there is one for each marker; otherwise empty. A failed
// lookup does not fail the call: the arguments are then bound as for a
// database that reports nothing.
std::vector<TParamType> ReportedParamTypes(TcsCustomDatabase& database,
                                           const std::string& procedure, int marker_count) {
  std::vector<TParamType> types;
  try {
    database.GetProcedureParamTypes(procedure, types);
  } catch (const std::exception&) {
    types.clear();
  }
  if (static_cast<int>(types.size()) != marker_count) types.clear();
  return types;
}

}  // namespace

void PrepCommand(TCommandInvocation& invocation) {
  TcsQuery& query = RequireQuery(invocation);
  if (query.Prepared()) query.UnPrepare();
  query.SetSQLText(invocation.UnparsedParams());
  TParams& params = query.Params();
  for (int i = 0; i < params.Count(); ++i) params.Items(i).SetParamType(ptInputOutput);
}

void ExecCommand(TCommandInvocation& invocation) {
  TcsQuery& query = RequireQuery(invocation);
  const std::vector<std::string>& values = invocation.Params();
  TParams& params = query.Params();
  for (size_t i = 0; i < values.size(); ++i) {
    if (static_cast<int>(i) >= params.Count()) throw EListError(static_cast<long>(i));
    params.Items(static_cast<int>(i)).SetAsString(ExecParamValue(values[i]));
  }
  query.Close();
  query.Open();
  if (query.FieldCount() == 0) {
    invocation.SetReply(201, "OK");
    invocation.AddResponse(IntToStr(query.RowsAffected()));
  } else {
    invocation.SetReply(200, "OK");
  }
  AddParamResultLines(invocation, params, false);
}

void CallCommand(TCommandInvocation& invocation) {
  TcsQuery& query = RequireQuery(invocation);
  query.UnPrepare();
  const std::vector<std::string> items = SplitCallList(invocation.UnparsedParams());
  if (items.empty()) throw EListError(0);
  const int argument_count = static_cast<int>(items.size()) - 1;
  TStringList text;
  for (std::string& line : CallStatementLines(items[0], argument_count)) text.Add(line);
  query.SetSQL(text);
  query.Prepare();
  TParams& params = query.Params();
  // A procedure name that itself holds markers can make more parameters
  // than arguments; the missing argument is an index error.
  if (params.Count() > argument_count) throw EListError(argument_count + 1);
  // Every argument is bound input-output unless the database names its
  // parameter input-only: an input parameter bound for output makes the
  // MariaDB driver store the returned values one place early, and the
  // PostgreSQL driver fail to read one back.
  std::vector<TParamType> reported;
  if (params.Count() > 0) {
    reported = ReportedParamTypes(RequireDatabase(invocation), items[0], params.Count());
  }
  for (int i = 0; i < params.Count(); ++i) {
    TParam& param = params.Items(i);
    const bool input_only = !reported.empty() && reported[static_cast<size_t>(i)] == ptInput;
    param.SetParamType(input_only ? ptInput : ptInputOutput);
    param.SetDataType(ftString);
    param.SetAsString(items[static_cast<size_t>(i) + 1]);
  }
  query.ExecSQL();
  AddParamResultLines(invocation, params, true);
}

}  // namespace velquarn
