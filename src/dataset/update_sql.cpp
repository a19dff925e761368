#include "dataset/update_sql.h"

#include "common/exceptions.h"
#include "common/string_list.h"
#include "common/text.h"
#include "dataset/field.h"
#include "dataset/update_params.h"

namespace velquarn {

namespace {

std::string QuotePart(std::string_view part, char quote) {
  std::string quoted(1, quote);
  for (char c : part) {
    quoted += c;
    if (c == quote) {
      quoted += quote;
    }
  }
  quoted += quote;
  return quoted;
}

bool IsKeyField(const TUpdateParams& update, const std::string& name) {
  for (const std::string& key : update.KeyFields().Items()) {
    if (SameText(key, name)) {
      return true;
    }
  }
  return false;
}

// Blob and memo values cannot be compared in a where clause on most servers.
bool Comparable(TFieldType type) { return type != ftBlob && type != ftMemo; }

std::string_view TrimTrailingBlanks(std::string_view text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

}  // namespace

std::string QuoteTableName(std::string_view name, char quote) {
  if (!name.empty() && name.front() == quote) {
    return std::string(name);
  }
  size_t dot = name.find('.');
  if (dot == std::string_view::npos) {
    return QuotePart(name, quote);
  }
  return QuotePart(name.substr(0, dot), quote) + "." + QuotePart(name.substr(dot + 1), quote);
}

std::string QuoteFieldName(std::string_view name, char quote) { return QuotePart(name, quote); }

std::string ParamReference(std::string_view name) {
  if (name.find_first_of(" ,;)\r\n") == std::string_view::npos) {
    return ":" + std::string(name);
  }
  // The parameter parser's own quoting, not the database's.
  return ":" + QuotePart(name, kDefaultIdentifierQuote);
}

std::vector<std::string> InsertSQLLines(const TUpdateParams& update, bool suppress_nulls,
                                        const TUpdateFieldLookup& lookup, char quote) {
  const TStringList& fields = update.UpdateFields();
  if (fields.Empty()) {
    return {};
  }
  std::vector<std::string> columns;
  for (const std::string& name : fields.Items()) {
    if (suppress_nulls) {
      std::optional<TUpdateFieldInfo> info = lookup(name);
      if (!info) {
        throw EDatabaseError("Field '" + name + "' not found");
      }
      if (info->is_null) {
        continue;
      }
    }
    columns.push_back(name);
  }
  // Every value was null: a statement without columns would only fail on
  // the server with a syntax error, or worse insert a row of defaults.
  if (columns.empty()) {
    throw EDatabaseError("Cannot insert into " + update.TableName() +
                         ": every update field is null");
  }
  std::vector<std::string> lines;
  lines.reserve(columns.size() * 2);
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i == 0) {
      lines.push_back("insert into " + QuoteTableName(update.TableName(), quote) + " (" +
                      QuoteFieldName(columns[i], quote));
    } else {
      lines.push_back(", " + QuoteFieldName(columns[i], quote));
    }
  }
  lines.back() += ")";
  for (size_t i = 0; i < columns.size(); ++i) {
    lines.push_back((i == 0 ? "Values(" : ", ") + ParamReference(columns[i]));
  }
  lines.back() += ")";
  return lines;
}

std::vector<std::string> ModifySQLLines(const TUpdateParams& update,
                                        const TUpdateFieldLookup& lookup, char quote) {
  std::vector<std::string> lines;
  for (const std::string& name : update.UpdateFields().Items()) {
    std::optional<TUpdateFieldInfo> info = lookup(name);
    if (!info || !info->changed) {
      continue;
    }
    std::string assignment = QuoteFieldName(name, quote) + "=" + ParamReference(name);
    if (lines.empty()) {
      lines.push_back("update " + QuoteTableName(update.TableName(), quote) + " set " + assignment);
    } else {
      lines.push_back(", " + assignment);
    }
  }
  if (lines.empty()) {
    return lines;
  }
  std::vector<std::string> where = WhereSQLLines(update, lookup, quote);
  lines.insert(lines.end(), where.begin(), where.end());
  return lines;
}

std::vector<std::string> DeleteSQLLines(const TUpdateParams& update,
                                        const TUpdateFieldLookup& lookup, char quote) {
  std::vector<std::string> lines{"delete from " + QuoteTableName(update.TableName(), quote)};
  std::vector<std::string> where = WhereSQLLines(update, lookup, quote);
  lines.insert(lines.end(), where.begin(), where.end());
  return lines;
}

std::vector<std::string> WhereSQLLines(const TUpdateParams& update,
                                       const TUpdateFieldLookup& lookup, char quote) {
  std::vector<std::string> lines{"where "};
  auto add_condition = [&lines](std::string condition) {
    lines.push_back(lines.size() == 1 ? std::move(condition) : "and " + condition);
  };
  for (const std::string& key : update.KeyFields().Items()) {
    add_condition(QuoteFieldName(key, quote) + "=" + ParamReference("OLD_" + key));
  }
  if (update.UpdateMode() == upWhereKeyOnly) {
    return lines;
  }
  for (const std::string& name : update.UpdateFields().Items()) {
    if (IsKeyField(update, name)) {
      continue;
    }
    std::optional<TUpdateFieldInfo> info = lookup(name);
    if (!info || !Comparable(info->data_type)) {
      continue;
    }
    if (update.UpdateMode() == upWhereChanged && !info->changed) {
      continue;
    }
    // "=" never matches a null, so under upWhereAll too a null old value is
    // looked for with "is null": otherwise no row holding a null in an
    // update field could ever be updated or deleted.
    add_condition(info->old_is_null
                      ? QuoteFieldName(name, quote) + " is null"
                      : QuoteFieldName(name, quote) + "=" + ParamReference("OLD_" + name));
  }
  return lines;
}

std::string JoinSQLLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  std::string joined;
  joined.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      joined += ' ';
      ++i;
    } else {
      joined += text[i];
    }
  }
  return joined;
}

std::string GenerateUpdateSQL(TUpdateKind kind, const TUpdateParams& update, bool suppress_nulls,
                              const TUpdateFieldLookup& lookup, char quote) {
  switch (kind) {
    case ukInsert:
      return JoinSQLLines(InsertSQLLines(update, suppress_nulls, lookup, quote));
    case ukModify:
      return JoinSQLLines(ModifySQLLines(update, lookup, quote));
    case ukDelete:
      return JoinSQLLines(DeleteSQLLines(update, lookup, quote));
  }
  return {};
}

TChangeRule ChangeRuleOf(const TField& field) {
  if (dynamic_cast<const TBlobField*>(&field) != nullptr) {
    return TChangeRule::kBlob;
  }
  if (dynamic_cast<const TStringField*>(&field) != nullptr) {
    return TChangeRule::kString;
  }
  if (dynamic_cast<const TBytesField*>(&field) != nullptr) {
    return TChangeRule::kBytes;
  }
  return TChangeRule::kValue;
}

bool ValueChanged(TChangeRule rule, const TVariant& old_value, const TVariant& new_value,
                  bool modified) {
  switch (rule) {
    case TChangeRule::kBlob:
      // The modified flag is set only when a blob stream stores a value; a
      // value assigned as a whole (AsString) must count as well, or the new
      // text would silently never be written.
      return modified || !(old_value == new_value);
    case TChangeRule::kString:
      if (!old_value.IsNull() && !new_value.IsNull()) {
        return TrimTrailingBlanks(old_value.AsString()) != TrimTrailingBlanks(new_value.AsString());
      }
      return !(old_value == new_value);
    case TChangeRule::kBytes:
      // Byte arrays are held as byte strings: equal length and equal bytes
      // is string equality. A null against a value is a change.
      if (old_value.IsNull() || new_value.IsNull()) {
        return old_value.IsNull() != new_value.IsNull();
      }
      return old_value.AsString() != new_value.AsString();
    case TChangeRule::kValue:
      return !(old_value == new_value);
  }
  return false;
}

bool FieldChanged(const TField& field) {
  return ValueChanged(ChangeRuleOf(field), field.OldValue(), field.NewValue(), field.Modified());
}

}  // namespace velquarn
