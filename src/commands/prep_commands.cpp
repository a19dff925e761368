#include "commands/prep_commands.h"

#include <string>
#include <vector>

#include "commands/context_access.h"
#include "commands/prep_text.h"
#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/params.h"
#include "dataset/query.h"
#include "protocol/command_invocation.h"

namespace velquarn {

namespace {

// One line per parameter that is not input only, in parameter order:
// name, "=", value (empty for null), sent without quoting.
void AddParamResultLines(TCommandInvocation& invocation, TParams& params) {
  for (int i = 0; i < params.Count(); ++i) {
    TParam& param = params.Items(i);
    if (param.ParamType() == ptInput) continue;
    invocation.AddResponse(param.Name() + "=" +
                           (param.IsNull() ? std::string() : param.AsString()));
  }
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
  AddParamResultLines(invocation, params);
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
  for (int i = 0; i < params.Count(); ++i) {
    // A procedure name that itself holds markers can make more parameters
    // than arguments; the missing argument is an index error.
    if (i + 1 > argument_count) throw EListError(i + 1);
    TParam& param = params.Items(i);
    param.SetParamType(ptInputOutput);
    param.SetDataType(ftString);
    param.SetAsString(items[static_cast<size_t>(i) + 1]);
  }
  query.ExecSQL();
  AddParamResultLines(invocation, params);
}

}  // namespace velquarn
