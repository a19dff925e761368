#include "dataset/sql_update.h"

#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/cs_dataset.h"
#include "dataset/data_link.h"
#include "dataset/update_params.h"

namespace velquarn {

namespace {

// The field for a parameter name: the query's own first, then its master's.
TField* FindBindingField(const TcsDataset& query, std::string_view name) {
  if (TField* field = query.FindField(name)) {
    return field;
  }
  TDataSource* source = query.DataSource();
  if (source != nullptr && source->DataSet() != nullptr) {
    return source->DataSet()->FindField(name);
  }
  return nullptr;
}

}  // namespace

TSQLUpdate::TSQLUpdate() = default;

TSQLUpdate::~TSQLUpdate() {
  // Tell the served query first, while this object is whole: it clears its
  // UpdateObject.
  SendRemovalNotices();
}

void TSQLUpdate::SetDataSet(TcsDataset* query) {
  if (query != query_) {
    TcsDataset* previous = query_;
    query_ = nullptr;
    if (previous != nullptr) {
      RemoveFreeNotification(previous);
      if (previous->UpdateObject() == this) {
        previous->SetUpdateObject(nullptr);
      }
    }
    query_ = query;
    if (query_ != nullptr) {
      FreeNotification(query_);
    }
  }
  if (query_ != nullptr && query_->UpdateObject() != this) {
    query_->SetUpdateObject(this);
    // An update object and generated SQL exclude each other.
    if (!query_->Loading()) {
      query_->SetUpdateParams(nullptr);
    }
  }
}

TcsDataset& TSQLUpdate::Query(TUpdateKind kind) {
  if (query_ == nullptr) {
    throw EDatabaseError("Update object serves no dataset");
  }
  std::unique_ptr<TcsDataset>& statement = statements_[kind];
  if (!statement) {
    statement = std::make_unique<TcsDataset>();
    taken_text_[kind].clear();
  }
  if (statement->DataBaseName() != query_->DataBaseName()) {
    statement->SetDataBaseName(query_->DataBaseName());
  }
  const std::string text = sql_[kind].Text();
  if (text != taken_text_[kind]) {
    statement->Close();
    statement->Params().Clear();
    statement->SetSQL(sql_[kind]);
    taken_text_[kind] = text;
  }
  return *statement;
}

void TSQLUpdate::SetParams(TUpdateKind kind) {
  TcsDataset& statement = Query(kind);
  TParams& params = statement.Params();
  for (int i = 0; i < params.Count(); ++i) {
    TParam& param = params[i];
    const std::optional<std::string_view> old_field = OldValueField(param.Name());
    const bool old = old_field.has_value();
    const std::string_view name = old ? *old_field : std::string_view(param.Name());
    TField* field = FindBindingField(*query_, name);
    if (field == nullptr) {
      continue;
    }
    if (old) {
      param.AssignFieldValue(*field, field->OldValue());
    } else if (field->FieldKind() == fkCalculated) {
      param.AssignFieldValue(*field, field->Value());
    } else {
      // Our variants have no "unassigned" state apart from null, so the edit
      // buffer's value is always the one written, null included.
      param.AssignFieldValue(*field, field->NewValue());
    }
  }
}

void TSQLUpdate::Apply(TUpdateKind kind) {
  SetParams(kind);
  TcsDataset& statement = Query(kind);
  statement.ExecSQL();
  if (statement.RowsAffected() == 0) {
    RaiseNoRowsAffected(*query_, kind);
  }
}

void TSQLUpdate::ApplyUpdate(TcsDataset& dataset, TUpdateKind kind) {
  if (query_ != &dataset) {
    SetDataSet(&dataset);
  }
  Apply(kind);
}

void TSQLUpdate::Notification(TComponent* component, TOperation operation) {
  TcsUpdateWriter::Notification(component, operation);
  if (operation == opRemove && component == query_) {
    query_ = nullptr;
  }
}

}  // namespace velquarn
