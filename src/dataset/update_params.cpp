#include "dataset/update_params.h"

#include <memory>
#include <optional>

#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/cs_dataset.h"
#include "dataset/database.h"
#include "dataset/database_list.h"
#include "dataset/params.h"
#include "dataset/update_sql.h"

namespace velquarn {

std::optional<std::string_view> OldValueField(std::string_view param_name) {
  if (param_name.size() < kOldValuePrefix.size() ||
      !SameText(param_name.substr(0, kOldValuePrefix.size()), kOldValuePrefix)) {
    return std::nullopt;
  }
  return param_name.substr(kOldValuePrefix.size());
}

namespace {

TcsCustomDatabase& DatabaseOf(TcsDataset& dataset) {
  if (TcsCustomDatabase* database = dataset.Database()) {
    return *database;
  }
  if (TcsCustomDatabase* database = GlobalDatabaseList().FindDatabase(dataset.DataBaseName())) {
    return *database;
  }
  throw EDatabaseError("Database '" + dataset.DataBaseName() + "' not found");
}

// "OLD_" names take the held row's value; the others the value being
// written. A name without a field stays unbound (null).
void BindFromDataset(TcsDataset& dataset, TParams& params) {
  for (int i = 0; i < params.Count(); ++i) {
    TParam& param = params[i];
    const std::string& name = param.Name();
    if (const std::optional<std::string_view> old = OldValueField(name)) {
      if (TField* field = dataset.FindField(*old)) {
        param.AssignFieldValue(*field, field->OldValue());
      }
    } else if (TField* field = dataset.FindField(name)) {
      param.AssignFieldValue(*field, field->Value());
    }
  }
}

// Offers a failed write to the query's OnUpdateError handler; uaAbort turns
// it into the silent abort, anything else leaves the caller to raise.
void OfferToHandler(TcsDataset& dataset, const std::string& message, TUpdateKind kind) {
  if (!dataset.OnUpdateError) {
    return;
  }
  EDatabaseError error(message);
  TUpdateAction action = uaFail;
  dataset.OnUpdateError(dataset, error, kind, action);
  if (action == uaAbort) {
    throw EAbort();
  }
}

}  // namespace

void TUpdateParams::SetKeyFields(const TStringList* fields) {
  key_fields_ = fields != nullptr ? *fields : TStringList();
}

void TUpdateParams::SetUpdateFields(const TStringList* fields) {
  update_fields_ = fields != nullptr ? *fields : TStringList();
}

void TUpdateParams::Assign(const TUpdateParams& source) {
  if (&source == this) {
    return;
  }
  key_fields_ = source.key_fields_;
  update_fields_ = source.update_fields_;
  table_name_ = source.table_name_;
  update_mode_ = source.update_mode_;
}

void TUpdateParams::ApplyUpdate(TcsDataset& dataset, TUpdateKind kind) {
  TUpdateFieldLookup lookup = [&dataset](const std::string& name) {
    std::optional<TUpdateFieldInfo> info;
    if (const TField* field = dataset.FindField(name)) {
      info.emplace();
      info->data_type = field->DataType();
      info->is_null = field->IsNull();
      info->old_is_null = field->OldValue().IsNull();
      info->changed = FieldChanged(*field);
    }
    return info;
  };
  const bool suppress_nulls = (dataset.QueryOptions() & SuppressNullsOnInsert) != 0;
  // The driver's identifier quote: a backquote on a server that reads
  // double quotes as a string literal.
  TcsCustomDatabase& database = DatabaseOf(dataset);
  const char quote =
      database.Driver() != nullptr ? database.Driver()->IdentifierQuote() : kDefaultIdentifierQuote;
  const std::string sql = GenerateUpdateSQL(kind, *this, suppress_nulls, lookup, quote);
  if (sql.empty()) {
    return;
  }

  int rows = 0;
  try {
    TParams params;
    const std::string processed = ParseSQL(sql, &params);
    BindFromDataset(dataset, params);
    rows = database.ExecSQL(processed, &params, nullptr);
  } catch (const EAbort&) {
    throw;
  } catch (const Exception& error) {
    OfferToHandler(dataset, error.Message(), kind);
    throw;
  }
  // The handler hears of a row that was not found once, here; it is not
  // offered the same failure a second time as an execution error.
  if (rows < 1) {
    RaiseNoRowsAffected(dataset, kind);
  }
}

void RaiseNoRowsAffected(TcsDataset& dataset, TUpdateKind kind) {
  OfferToHandler(dataset, kNoRowsAffected, kind);
  throw EDatabaseError(kNoRowsAffected);
}

void AssignUpdateParams(TcsDataset& query, const TUpdateParams* value) {
  if (value == nullptr) {
    query.SetUpdateParams(nullptr);
    return;
  }
  if (!query.Loading()) {
    query.SetUpdateObject(nullptr);
  }
  auto* current = dynamic_cast<TUpdateParams*>(query.UpdateParams());
  if (current == nullptr) {
    auto created = std::make_unique<TUpdateParams>();
    current = created.get();
    query.SetUpdateParams(std::move(created));
  }
  current->Assign(*value);
}

}  // namespace velquarn
