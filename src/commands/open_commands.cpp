#include "commands/open_commands.h"

#include <charconv>
#include <memory>

#include "commands/command_table.h"
#include "commands/context_access.h"
#include "commands/db_context.h"
#include "commands/password_file.h"
#include "commands/password_scramble.h"
#include "commands/session_log.h"
#include "common/clock.h"
#include "common/exceptions.h"
#include "common/ini_file.h"
#include "common/text.h"
#include "dataset/query.h"
#include "metrics/gateway_metrics.h"
#include "odbc/connect_string.h"
#include "odbc/odbc_database.h"
#include "protocol/command_invocation.h"

namespace velquarn {

namespace {

bool BeginsWithBang(const std::vector<std::string>& params, size_t index) {
  return index < params.size() && !params[index].empty() && params[index][0] == '!';
}

// The module date travels as a decimal integer; anything else counts as 0.
int32_t ParseModuleDate(std::string_view text) {
  int32_t value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto result = std::from_chars(begin, end, value);
  if (result.ec != std::errc() || result.ptr != end) return 0;
  return value;
}

constexpr int kDefaultLoginTimeout = 30;
constexpr int kDefaultQueryTimeout = 30;

// A connection context lives at one address for its whole life, and no two
// live contexts share one, so the address serves as the connection's number.
uint64_t ConnectionNumber(const TDBContext& context) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&context));
}

// The first `open` of a connection creates its database component and
// registers it under the built name. A component whose name was refused is
// not kept: it would stay unregistered, and no query of a later `open` on
// the connection could find it.
TcsODBCDatabase& EnsureDatabase(TDBContext& context, const std::string& name) {
  if (TcsODBCDatabase* existing = context.Database()) return *existing;
  TDBContext::TDatabasePtr database(new TcsODBCDatabase());
  database->SetLoginPrompt(false);
  database->SetConnectionPoolSize(1);
  database->SetName(name);
  database->SetDataBaseName(name);
  context.SetDatabase(std::move(database));
  return *context.Database();
}

// Values from the client go into the connection string brace-quoted, but
// the SQLite ODBC driver reads connection strings without brace quoting: to
// it a ";" followed by "keyword=" starts a keyword even inside braces. Such
// a value is refused before any driver sees it.
void RequireOneValue(const char* what, const std::string& value) {
  if (!ReadsAsOneValue(value)) {
    throw Exception(Format("The %s may not hold ';' followed by '='", what));
  }
}

// The peer as the session's log entries name it; unit tests run `open` on
// contexts without a connection.
std::string PeerOf(const TDBContext& context) {
  return context.HasConnection() ? context.Connection().PeerName() : "an unconnected session";
}

// The section's name as the configuration spells it (the client may type
// it in any letter case).
std::string ConfiguredSectionName(const TIniFile& config, const std::string& section) {
  TStringList sections;
  config.ReadSections(sections);
  for (int i = 0; i < sections.Count(); ++i) {
    if (SameText(sections.Strings(i), section)) return sections.Strings(i);
  }
  return section;
}

// The section's password: from its PasswordFile when it names one, else
// the scrambled Password.
std::string SectionPassword(const TIniFile& config, const std::string& section,
                            const std::string& config_path) {
  const std::string file = Trim(config.ReadString(section, "PasswordFile", ""));
  if (!file.empty()) return ReadPasswordFile(ResolvePasswordFilePath(file, config_path));
  return UnscramblePassword(config.ReadString(section, "Password", ""));
}

void Parameterise(TDBContext& context, TcsODBCDatabase& database,
                  const TCommandEnvironment& environment, const TOpenParams& open) {
  // One snapshot for the whole `open`: a reload meanwhile cannot mix two
  // files' values.
  const std::shared_ptr<const TIniFile> config = environment.Live()->Config;
  RequireOneValue("user id", open.user_id);
  RequireOneValue("password", open.password);
  database.SetLoginPrompt(false);
  // Each `open` describes the whole connection anew: nothing of an earlier
  // `open` on the connection (its driver parameters, its data source) may
  // leak into this one.
  database.Close();
  database.Params().Clear();
  TStringList& params = database.Params();
  const std::string& section = open.open_name;
  context.SetSectionName(section);
  if (config == nullptr || !config->SectionExists(section)) {
    RequireOneValue("data source name", section);
    database.SetCharset("UTF-8");
    database.SetDSN(section);
    params.SetValue("UID", open.user_id);
    params.SetValue("PWD", open.password);
    if (TcsODBCDriver* driver = database.ODBCDriver()) {
      // The client chose the name: it must not become a label of its own.
      driver->SetEvents(SessionDriverEvents(environment, section, PeerOf(context),
                                            TGatewayMetrics::kDataSourceLabel));
    }
    return;
  }
  params.SetValue("Database Name", config->ReadString(section, "DatabaseName", ""));
  params.SetValue("Server Name", config->ReadString(section, "ServerName", ""));
  if (!open.user_id.empty()) {
    params.SetValue("UID", open.user_id);
    params.SetValue("PWD", open.password);
  } else {
    params.SetValue("UID", config->ReadString(section, "Username", ""));
    params.SetValue("PWD", SectionPassword(*config, section, environment.ConfigPath));
  }
  database.SetDSN(config->ReadString(section, "DSN", ""));
  if (database.DSN().empty()) {
    database.SetODBCDriverName(config->ReadString(section, "DriverName", ""));
    for (std::string& item : SplitDriverParams(config->ReadString(section, "DriverParams", ""))) {
      params.Add(std::move(item));
    }
  }
  database.SetCharset(config->ReadString(section, "Charset", "UTF-8"));
  if (TcsODBCDriver* driver = database.ODBCDriver()) {
    driver->SetEvents(SessionDriverEvents(environment, section, PeerOf(context),
                                          ConfiguredSectionName(*config, section)));
    driver->SetLoginTimeout(
        static_cast<int>(config->ReadInteger(section, "LoginTimeout", kDefaultLoginTimeout)));
    driver->SetQueryTimeout(
        static_cast<int>(config->ReadInteger(section, "QueryTimeout", kDefaultQueryTimeout)));
  }
  context.SetServerTimeZone(
      static_cast<int32_t>(config->ReadInteger(section, "ServerTimeZone", 0)));
}

void CreateDatabaseState(TDBContext& context, const TCommandEnvironment& environment,
                         const TOpenParams& open) {
  const std::string name =
      BuildDatabaseComponentName(open.open_name, ConnectionNumber(context), GetTickCount());
  TcsODBCDatabase& database = EnsureDatabase(context, name);
  // The previous query goes first, giving back its connection before the
  // database is re-parameterised under it.
  context.SetQuery(nullptr);
  Parameterise(context, database, environment, open);
  // The new query is handed its database directly: nothing of the global
  // list (another connection's component under a like name) can come
  // between them.
  TDBContext::TQueryPtr query(new TcsQuery());
  query->SetDatabase(&database);
  context.SetQuery(std::move(query));
}

}  // namespace

std::vector<std::string> SplitDriverParams(std::string_view text) {
  std::vector<std::string> items;
  std::string item;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        item += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        item += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      if (!item.empty()) items.push_back(std::move(item));
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) items.push_back(std::move(item));
  return items;
}

TOpenParams ParseOpenParams(const std::vector<std::string>& params) {
  TOpenParams open;
  if (!params.empty()) open.open_name = params[0];
  if (params.size() > 1 && !BeginsWithBang(params, 1)) open.user_id = params[1];
  if (params.size() > 2 && !BeginsWithBang(params, 2)) open.password = params[2];

  std::string module;
  std::string date;
  if (BeginsWithBang(params, 1)) module = params[1];
  if (BeginsWithBang(params, 3)) module = params[3];
  if (BeginsWithBang(params, 2)) date = params[2];
  if (BeginsWithBang(params, 4)) date = params[4];

  open.has_module = !module.empty();
  if (open.has_module) {
    open.module_name = module.substr(1);
    if (!date.empty()) open.module_date = ParseModuleDate(std::string_view(date).substr(1));
  }
  return open;
}

std::string BuildDatabaseComponentName(std::string_view open_name, uint64_t connection_number,
                                       uint32_t tick_count) {
  std::string name(open_name);
  name += std::to_string(connection_number);
  name += std::to_string(tick_count);
  return name;
}

std::string ClientVersionRejectedText(std::string_view module_name) {
  std::string text = "Felaktig klientversion av modulen \"";
  text += module_name;
  text += "\". Kontakta IT-avdelningen f\xF6r hj\xE4lp.";
  return text;
}

void OpenCommand(TCommandInvocation& invocation, const TCommandEnvironment& environment) {
  const TOpenParams open = ParseOpenParams(invocation.Params());
  if (open.has_module && environment.CheckVersion &&
      !environment.CheckVersion(open.module_name, open.module_date)) {
    invocation.SetReply(599, ClientVersionRejectedText(open.module_name));
    return;
  }
  TDBContext& context = DBContextOf(invocation);
  try {
    CreateDatabaseState(context, environment, open);
  } catch (const std::exception& error) {
    invocation.SetReply(503, error.what());
    if (environment.LogAt) {
      environment.LogAt(TLogPriority::kWarning, "Velquarn",
                        OpenFailureText(open.open_name, PeerOf(context), error));
    }
  }
}

void CloseCommand(TCommandInvocation& /*invocation*/) {}

void ClearCommand(TCommandInvocation& invocation) {
  try {
    // The whole close, not only the cursor's: a query left active over a
    // released cursor would answer `get` from rows it no longer has.
    if (TcsQuery* query = DBContextOf(invocation).Query()) query->Close();
  } catch (...) {
    // `clear` is a tidy-up the client cannot act on; it always succeeds.
  }
}

}  // namespace velquarn
