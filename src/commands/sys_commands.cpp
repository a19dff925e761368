#include "commands/sys_commands.h"

#include <string_view>
#include <vector>

#include "commands/command_table.h"
#include "commands/context_access.h"
#include "common/ini_file.h"
#include "common/string_list.h"
#include "common/text.h"
#include "odbc/odbc_database.h"
#include "protocol/command_invocation.h"
#include "protocol/connection.h"
#include "protocol/ip_address.h"

namespace velquarn {

namespace {

constexpr int kMissingOperand = 581;
constexpr int kBadOperand = 582;
constexpr int kNotAllowed = 583;

// The server asks for data sources with these fixed values; the ODBC driver
// does not use them.
constexpr int kDataSourceTimeout = 30;
constexpr int kDataSourcePort = 8888;

// The list pattern: the caller has filled the list; the 200 reply goes out
// now and is followed by the list as a data block, or by a lone "." when the
// list is empty, so the client always receives a terminated block.
void SendList(TCommandInvocation& invocation, const TStringList& list) {
  for (const std::string& item : list.Items()) invocation.AddResponse(item);
  invocation.SendReply();
  if (invocation.Response().empty()) invocation.WriteLine(".");
}

void GetConfig(TCommandInvocation& invocation, const std::string& path) {
  TStringList lines;
  lines.SetText(TIniFile::ReadFileText(path));
  SendList(invocation, lines);
}

void SetConfig(TCommandInvocation& invocation, const std::string& path) {
  TStringList lines;
  for (std::string& line : invocation.ReadCountedLines()) lines.Add(std::move(line));
  WriteConfigurationLines(path, lines);
}

// getconfig hands out every stored credential and setconfig replaces them,
// so both answer only where the operator allows them. A refused setconfig
// still reads the lines its client sends after the command line, so that
// they are not taken for commands.
bool ConfigCommandAllowed(TCommandInvocation& invocation, const TCommandEnvironment& environment,
                          bool reads_lines) {
  const char* refusal = nullptr;
  const std::shared_ptr<const TLiveSettings> live = environment.Live();
  if (!live->ConfigCommands) {
    refusal = "Configuration commands are turned off";
  } else if (!live->AdminFrom.Allows(invocation.Connection().PeerAddress(),
                                        invocation.Connection().PeerCommonName())) {
    refusal = "Configuration commands are not allowed from this address";
  }
  if (refusal == nullptr) return true;
  if (reads_lines) invocation.ReadCountedLines();
  invocation.SetReply(kNotAllowed, refusal);
  return false;
}

void DataSourceNames(TCommandInvocation& invocation, const std::string& path) {
  TStringList names;
  ReadDatabaseSectionNames(path, names);
  if (names.Empty()) {
    RequireDatabase(invocation).GetDataSourceNames(names, "", kDataSourceTimeout, kDataSourcePort);
  }
  SendList(invocation, names);
}

void DatabaseNames(TCommandInvocation& invocation) {
  TStringList names;
  RequireDatabase(invocation).GetDatabaseNames(names);
  SendList(invocation, names);
}

void TableNames(TCommandInvocation& invocation) {
  const std::vector<std::string>& params = invocation.Params();
  const std::string schema = params.size() > 1 ? params[1] : std::string();
  const std::string pattern = params.size() > 2 ? params[2] : std::string();
  TStringList names;
  RequireDatabase(invocation).GetTableNames(schema, pattern, names, false, false);
  SendList(invocation, names);
}

void IndexNames(TCommandInvocation& invocation) {
  const std::vector<std::string>& params = invocation.Params();
  if (params.size() < 2) {
    invocation.SetReply(kBadOperand, "Required table name on SYS command missing");
    return;
  }
  TStringList names;
  RequireDatabase(invocation).GetIndexNames(params[1], names);
  SendList(invocation, names);
}

void IndexFields(TCommandInvocation& invocation) {
  const std::vector<std::string>& params = invocation.Params();
  const size_t semicolon = params.size() < 2 ? std::string::npos : params[1].find(';');
  if (semicolon == std::string::npos) {
    invocation.SetReply(kBadOperand, "Required index name on SYS command missing");
    return;
  }
  const std::string table = params[1].substr(0, semicolon);
  const std::string index = params[1].substr(semicolon + 1);
  TStringList fields;
  RequireDatabase(invocation).GetIndexFields(table, index, fields);
  SendList(invocation, fields);
}

void DefaultIndexFields(TCommandInvocation& invocation) {
  const std::vector<std::string>& params = invocation.Params();
  if (params.size() < 2) {
    invocation.SetReply(kBadOperand, "Required table name on SYS command missing");
    return;
  }
  TStringList fields;
  RequireDatabase(invocation).GetDefaultIndexFields(params[1], fields);
  SendList(invocation, fields);
}

void CustomData(TCommandInvocation& invocation, const std::string& path) {
  TStringList lines;
  ReadCustomData(path, lines);
  SendList(invocation, lines);
}

}  // namespace

void WriteConfigurationLines(const std::string& path, const TStringList& lines) {
  std::string text;
  for (const std::string& line : lines.Items()) {
    text += line;
    text += "\r\n";
  }
  TIniFile::WriteFileAtomically(path, text);
}

void ReadDatabaseSectionNames(const std::string& path, TStringList& names) {
  const TIniFile configuration(path);
  configuration.ReadSections(names);
  for (const std::string_view reserved : {"Settings", "CustomData"}) {
    const int index = names.IndexOf(reserved);
    if (index >= 0) names.Delete(index);
  }
}

void ReadCustomData(const std::string& path, TStringList& lines) {
  const TIniFile configuration(path);
  TStringList keys;
  configuration.ReadSection("CustomData", keys);
  lines.Clear();
  for (const std::string& key : keys.Items()) {
    lines.Add(key + "=" + configuration.ReadString("CustomData", key, ""));
  }
}

void SysCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment) {
  const std::vector<std::string>& params = invocation.Params();
  if (params.empty()) {
    invocation.SetReply(kMissingOperand, "Required operand on SYS command missing");
    return;
  }
  // All four file operands use the service's own configuration file: the one
  // given with --config, or the default beside the executable.
  const std::string& path = environment.ConfigPath;
  const std::string& operand = params[0];
  if (SameText(operand, "getconfig")) {
    if (ConfigCommandAllowed(invocation, environment, false)) GetConfig(invocation, path);
  } else if (SameText(operand, "setconfig")) {
    if (ConfigCommandAllowed(invocation, environment, true)) SetConfig(invocation, path);
  } else if (SameText(operand, "datasourcenames")) {
    DataSourceNames(invocation, path);
  } else if (SameText(operand, "databasenames")) {
    DatabaseNames(invocation);
  } else if (SameText(operand, "tablenames")) {
    TableNames(invocation);
  } else if (SameText(operand, "indexnames")) {
    IndexNames(invocation);
  } else if (SameText(operand, "indexfields")) {
    IndexFields(invocation);
  } else if (SameText(operand, "defaultindexfields")) {
    DefaultIndexFields(invocation);
  } else if (SameText(operand, "customdata")) {
    CustomData(invocation, path);
  } else {
    invocation.SetReply(kBadOperand, "Unknown operand on SYS command");
  }
}

}  // namespace velquarn
