#include "dataset/params.h"

#include <cstring>

#include "common/exceptions.h"
#include "common/text.h"
#include "dataset/field.h"
#include "dataset/slot_format.h"

namespace velquarn {

TParam::TParam(std::string name, TParamType param_type, TFieldType data_type)
    : name_(std::move(name)), param_type_(param_type), data_type_(data_type) {}

void TParam::SetValue(const TVariant& value) {
  if (data_type_ == ftUnknown) {
    switch (value.VarType()) {
      case TVariant::vkBoolean:
        data_type_ = ftBoolean;
        break;
      case TVariant::vkInteger: {
        const int64_t v = value.AsInteger();
        data_type_ = (v >= INT32_MIN && v <= INT32_MAX) ? ftInteger : ftLargeint;
        break;
      }
      case TVariant::vkFloat:
        data_type_ = ftFloat;
        break;
      case TVariant::vkDateTime:
        data_type_ = ftDateTime;
        break;
      case TVariant::vkString:
        data_type_ = ftString;
        break;
      case TVariant::vkNull:
        break;
    }
  }
  value_ = value;
}

void TParam::SetTypedValue(TFieldType type, TVariant value) {
  data_type_ = type;
  value_ = std::move(value);
}

void TParam::SetAsString(std::string value) { SetTypedValue(ftString, TVariant(std::move(value))); }
void TParam::SetAsInteger(int32_t value) { SetTypedValue(ftInteger, TVariant(value)); }
void TParam::SetAsLargeInt(int64_t value) { SetTypedValue(ftLargeint, TVariant(value)); }
void TParam::SetAsFloat(double value) { SetTypedValue(ftFloat, TVariant(value)); }
void TParam::SetAsCurrency(double value) { SetTypedValue(ftCurrency, TVariant(value)); }
void TParam::SetAsBoolean(bool value) { SetTypedValue(ftBoolean, TVariant(value)); }
void TParam::SetAsDate(TDateTime value) { SetTypedValue(ftDate, TVariant::FromDateTime(value)); }
void TParam::SetAsTime(TDateTime value) { SetTypedValue(ftTime, TVariant::FromDateTime(value)); }
void TParam::SetAsDateTime(TDateTime value) {
  SetTypedValue(ftDateTime, TVariant::FromDateTime(value));
}
void TParam::SetAsMemo(std::string value) { SetTypedValue(ftMemo, TVariant(std::move(value))); }
void TParam::SetAsBlob(std::string value) { SetTypedValue(ftBlob, TVariant(std::move(value))); }

int TParam::GetDataSize() const {
  switch (data_type_) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftUnknown:
      return static_cast<int>(value_.AsString().size()) + 1;
    case ftBCD:
      return 34;
    case ftBytes:
    case ftVarBytes:
      return static_cast<int>(value_.AsString().size());
    default:
      if (const int bytes = ScalarValueBytes(data_type_)) return bytes;
      return IsBlobType(data_type_) ? static_cast<int>(value_.AsString().size()) : 0;
  }
}

void TParam::GetData(void* buffer) const {
  auto* out = static_cast<char*>(buffer);
  switch (data_type_) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftUnknown: {
      const std::string text = value_.AsString();
      std::memcpy(out, text.c_str(), text.size() + 1);
      return;
    }
    default: {
      if (EncodeScalarSlot(data_type_, value_, out)) return;
      const int size = GetDataSize();
      if (size > 0) std::memcpy(out, value_.AsString().data(), static_cast<size_t>(size));
      return;
    }
  }
}

void TParam::SetData(const void* buffer, int length) {
  const auto* in = static_cast<const char*>(buffer);
  const auto bounded = static_cast<size_t>(std::max(length, 0));
  if (IsIntegerSlotType(data_type_)) {
    value_ = TVariant(DecodeIntegerSlot(data_type_, in));
    return;
  }
  switch (data_type_) {
    case ftBoolean:
      value_ = TVariant(DecodeBooleanSlot(in));
      return;
    case ftFloat:
    case ftCurrency:
      value_ = TVariant(DecodeFloatSlot(in));
      return;
    case ftBytes:
    case ftVarBytes:
      value_ = TVariant(std::string(in, bounded));
      return;
    default:
      if (IsBlobType(data_type_)) {
        value_ = TVariant(std::string(in, bounded));
      } else {
        value_ = TVariant(std::string(DecodeTextSlot(in, static_cast<int>(bounded))));
      }
      return;
  }
}

void TParam::AssignField(const TField& field) { AssignFieldValue(field, field.Value()); }

void TParam::AssignFieldValue(const TField& field, const TVariant& value) {
  data_type_ = field.DataType();
  value_ = value;
}

void TParam::Assign(const TParam& source) {
  name_ = source.name_;
  param_type_ = source.param_type_;
  data_type_ = source.data_type_;
  size_ = source.size_;
  value_ = source.value_;
}

TParam& TParams::CreateParam(TFieldType data_type, std::string name, TParamType param_type) {
  items_.push_back(std::make_unique<TParam>(std::move(name), param_type, data_type));
  return *items_.back();
}

TParam* TParams::FindParam(std::string_view name) {
  for (auto& item : items_) {
    if (SameText(item->Name(), name)) return item.get();
  }
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) {
  TParam* param = FindParam(name);
  if (param == nullptr) {
    throw EDatabaseError(
        Format("Parameter '%.*s' not found", static_cast<int>(name.size()), name.data()));
  }
  return *param;
}

void TParams::Assign(const TParams& other) {
  std::vector<std::unique_ptr<TParam>> copies;
  copies.reserve(other.items_.size());
  for (const auto& item : other.items_) {
    copies.push_back(std::make_unique<TParam>());
    copies.back()->Assign(*item);
  }
  items_ = std::move(copies);
}

void TParams::AssignValues(const TParams& other) {
  for (auto& item : items_) {
    for (const auto& source : other.items_) {
      if (SameText(item->Name(), source->Name())) {
        item->SetDataType(source->DataType());
        item->SetParamType(source->ParamType());
        item->SetSize(source->Size());
        item->SetValue(source->Value());
        break;
      }
    }
  }
}

namespace {

bool IsLiteralChar(char c) { return c == '\'' || c == '"' || c == '`'; }

bool IsNameDelimiter(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

}  // namespace

std::string ParseSQL(std::string_view sql, TParams* params) {
  std::string out;
  out.reserve(sql.size());
  bool literal = false;
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == ':' && !literal) {
      if (i + 1 < sql.size() && sql[i + 1] == ':') {
        out.push_back(':');
        i += 2;
        continue;
      }
      // The name runs to the first delimiter met outside a literal; a quote
      // inside it flips the literal flag, so a quoted name may hold blanks.
      size_t end = i + 1;
      while (end < sql.size() && (literal || !IsNameDelimiter(sql[end]))) {
        if (IsLiteralChar(sql[end])) literal = !literal;
        ++end;
      }
      std::string name(sql.substr(i + 1, end - i - 1));
      if (!name.empty() && IsLiteralChar(name.front())) {
        name.erase(name.begin());
        if (!name.empty() && IsLiteralChar(name.back())) name.pop_back();
      }
      if (params != nullptr) params->CreateParam(ftUnknown, std::move(name), ptUnknown);
      out.push_back('?');
      i = end;
      continue;
    }
    if (IsLiteralChar(c)) literal = !literal;
    out.push_back(c);
    ++i;
  }
  return out;
}

}  // namespace velquarn
