#include "dataset/field.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "common/exceptions.h"
#include "common/number_text.h"
#include "common/text.h"
#include "dataset/dataset.h"
#include "dataset/slot_format.h"

namespace velquarn {

int FieldValueSize(TFieldType type, int size) {
  switch (type) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return size + 1;
    case ftDate:
    case ftTime:
      return 8;  // a 4-byte value in a slot of eight
    case ftBCD:
      return 34;
    case ftBytes:
    case ftVarBytes:
      return size;
    default:
      if (const int bytes = ScalarValueBytes(type)) return bytes;
      return IsBlobType(type) ? 4 : 0;
  }
}

bool IsBlobType(TFieldType type) {
  switch (type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
      return true;
    default:
      return false;
  }
}

TFieldDef& TFieldDefs::Add(const TFieldDef& def) {
  items_.push_back(def);
  return items_.back();
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (SameText(items_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

TField::TField(TFieldType data_type, int size)
    : data_type_(data_type), size_(size), data_size_(FieldValueSize(data_type, size)) {}

const std::string& TField::DisplayName() const {
  return display_label_.empty() ? field_name_ : display_label_;
}

void TField::SetLookup(TDataSet* dataset, std::string key_fields, std::string lookup_key_fields,
                       std::string lookup_result_field) {
  lookup_dataset_ = dataset;
  key_fields_ = std::move(key_fields);
  lookup_key_fields_ = std::move(lookup_key_fields);
  lookup_result_field_ = std::move(lookup_result_field);
  field_kind_ = fkLookup;
}

const char* TField::Data() const {
  return dataset_ == nullptr ? nullptr : dataset_->GetFieldDataPtr(*this);
}

bool TField::IsNull() const { return Data() == nullptr; }

bool TField::GetData(void* dest) const {
  return dataset_ != nullptr && dataset_->GetFieldData(*this, dest);
}

void TField::SetData(const void* source) {
  if (dataset_ == nullptr) {
    throw EDatabaseError(Format("Field '%s' has no dataset", DisplayName().c_str()));
  }
  dataset_->SetFieldData(*this, source);
}

void TField::AccessError(const char* type_name) const {
  throw EDatabaseError(
      Format("Cannot access field '%s' as type %s", DisplayName().c_str(), type_name));
}

TVariant TField::Value() const { return TVariant(); }

void TField::SetValue(const TVariant&) { AccessError("Variant"); }

TVariant TField::ValueInState(TDataSetState state) const {
  if (dataset_ == nullptr) return TVariant();
  const TDataSetState saved = dataset_->SetTempState(state);
  try {
    TVariant value = Value();
    dataset_->RestoreState(saved);
    return value;
  } catch (...) {
    dataset_->RestoreState(saved);
    throw;
  }
}

TVariant TField::OldValue() const { return ValueInState(dsOldValue); }

TVariant TField::NewValue() const { return ValueInState(dsNewValue); }

std::string TStringField::AsString() const {
  const char* data = Data();
  if (data == nullptr) return {};
  return std::string(DecodeTextSlot(data, DataSize()));
}

TVariant TStringField::Value() const {
  if (IsNull()) return TVariant();
  return TVariant(AsString());
}

void TStringField::SetValue(const TVariant& value) {
  if (value.IsNull()) {
    Clear();
    return;
  }
  std::string text = value.AsString();
  std::vector<char> buffer(static_cast<size_t>(DataSize()), '\0');
  std::memcpy(buffer.data(), text.data(), std::min<size_t>(text.size(), Size()));
  SetData(buffer.data());
}

TVariant TIntegerField::Value() const {
  const char* data = Data();
  if (data == nullptr) return TVariant();
  return TVariant(DecodeIntegerSlot(DataType(), data));
}

void TIntegerField::SetValue(const TVariant& value) {
  if (value.IsNull()) {
    Clear();
    return;
  }
  const int64_t v = value.AsInteger();
  int64_t low = std::numeric_limits<int32_t>::min();
  int64_t high = std::numeric_limits<int32_t>::max();
  if (DataType() == ftSmallint) {
    low = std::numeric_limits<int16_t>::min();
    high = std::numeric_limits<int16_t>::max();
  } else if (DataType() == ftWord) {
    low = 0;
    high = std::numeric_limits<uint16_t>::max();
  } else if (DataType() == ftLargeint) {
    low = std::numeric_limits<int64_t>::min();
    high = std::numeric_limits<int64_t>::max();
  }
  if (v < low || v > high) {
    throw EDatabaseError(
        Format("%lld is not a valid value for field '%s'. The allowed range is "
               "%lld to %lld",
               static_cast<long long>(v), DisplayName().c_str(), static_cast<long long>(low),
               static_cast<long long>(high)));
  }
  char buffer[8] = {};
  EncodeIntegerSlot(DataType(), v, buffer);
  SetData(buffer);
}

TVariant TBooleanField::Value() const {
  const char* data = Data();
  if (data == nullptr) return TVariant();
  return TVariant(DecodeBooleanSlot(data));
}

void TBooleanField::SetValue(const TVariant& value) {
  if (value.IsNull()) {
    Clear();
    return;
  }
  char buffer[2];
  EncodeBooleanSlot(value.AsBoolean(), buffer);
  SetData(buffer);
}

TVariant TFloatField::Value() const {
  const char* data = Data();
  if (data == nullptr) return TVariant();
  return TVariant(DecodeFloatSlot(data));
}

void TFloatField::SetValue(const TVariant& value) {
  if (value.IsNull()) {
    Clear();
    return;
  }
  char buffer[8];
  EncodeFloatSlot(value.AsFloat(), buffer);
  SetData(buffer);
}

namespace {

// Decimal text of a float without an exponent.
std::string PlainDecimal(double value) {
  std::string text = FloatToStr(value);
  if (text.find('E') == std::string::npos) return text;
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.15f", value);
  text = buffer;
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

TBcdRecord TextToBcd(const std::string& text, const std::string& field_name) {
  TBcdRecord bcd;
  std::string digits;
  bool negative = false;
  int scale = 0;
  bool point = false;
  std::string_view view = text;
  size_t i = 0;
  if (i < view.size() && (view[i] == '-' || view[i] == '+')) negative = view[i++] == '-';
  for (; i < view.size(); ++i) {
    const char c = view[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      digits.push_back(c);
      if (point) ++scale;
    } else {
      throw EConvertError(
          Format("'%s' is not a valid BCD value for field '%s'", text.c_str(), field_name.c_str()));
    }
  }
  while (digits.size() > 1 && digits.front() == '0' &&
         static_cast<int>(digits.size()) > scale + 1) {
    digits.erase(digits.begin());
  }
  if (digits.size() > 64 || scale > 63) {
    throw EConvertError(
        Format("'%s' is not a valid BCD value for field '%s'", text.c_str(), field_name.c_str()));
  }
  bcd.precision = static_cast<uint8_t>(digits.size());
  bcd.sign_scale = static_cast<uint8_t>((negative ? 0x80 : 0) | scale);
  for (size_t d = 0; d < digits.size(); ++d) {
    const auto nibble = static_cast<uint8_t>(digits[d] - '0');
    bcd.digits[d / 2] |= static_cast<uint8_t>((d % 2 == 0) ? nibble << 4 : nibble);
  }
  return bcd;
}

std::string BcdToText(const TBcdRecord& bcd) {
  const int precision = std::min<int>(bcd.precision, 64);
  const int scale = std::min(bcd.sign_scale & 0x3F, precision);
  std::string digits;
  for (int d = 0; d < precision; ++d) {
    const uint8_t byte = bcd.digits[d / 2];
    digits.push_back(static_cast<char>('0' + ((d % 2 == 0) ? byte >> 4 : byte & 0x0F)));
  }
  std::string whole = digits.substr(0, static_cast<size_t>(precision - scale));
  std::string fraction = digits.substr(static_cast<size_t>(precision - scale));
  while (whole.size() > 1 && whole.front() == '0') whole.erase(whole.begin());
  if (whole.empty()) whole = "0";
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  std::string text = whole;
  if (!fraction.empty()) text += "." + fraction;
  if ((bcd.sign_scale & 0x80) != 0 && text != "0") text.insert(text.begin(), '-');
  return text;
}

}  // namespace

std::string TBCDField::AsString() const {
  const char* data = Data();
  if (data == nullptr) return {};
  TBcdRecord bcd;
  std::memcpy(&bcd, data, sizeof bcd);
  return BcdToText(bcd);
}

TVariant TBCDField::Value() const {
  if (IsNull()) return TVariant();
  return TVariant(StrToFloat(AsString()));
}

void TBCDField::SetValue(const TVariant& value) {
  if (value.IsNull()) {
    Clear();
    return;
  }
  const std::string text = value.VarType() == TVariant::vkString ? Trim(value.AsString())
                                                                 : PlainDecimal(value.AsFloat());
  const TBcdRecord bcd = TextToBcd(text, DisplayName());
  SetData(&bcd);
}

TVariant TDateTimeField::Value() const {
  const char* data = Data();
  if (data == nullptr) return TVariant();
  return TVariant::FromDateTime(DecodeDateTimeSlot(DataType(), data));
}

std::string TDateTimeField::AsString() const {
  const TVariant value = Value();
  if (value.IsNull()) return {};
  switch (DataType()) {
    case ftDate:
      return DateToStr(value.AsDateTime());
    case ftTime:
      return TimeToStr(value.AsDateTime());
    default:
      return DateTimeToStr(value.AsDateTime());
  }
}

void TDateTimeField::SetValue(const TVariant& value) {
  if (value.IsNull()) {
    Clear();
    return;
  }
  char buffer[8] = {};
  EncodeDateTimeSlot(DataType(), value.AsDateTime(), buffer);
  SetData(buffer);
}

TVariant TBytesField::Value() const {
  const char* data = Data();
  if (data == nullptr) return TVariant();
  return TVariant(std::string(data, static_cast<size_t>(DataSize())));
}

void TBytesField::SetValue(const TVariant& value) {
  if (value.IsNull()) {
    Clear();
    return;
  }
  const std::string bytes = value.AsString();
  std::vector<char> buffer(static_cast<size_t>(DataSize()), '\0');
  std::memcpy(buffer.data(), bytes.data(), std::min(bytes.size(), buffer.size()));
  SetData(buffer.data());
}

std::string TBlobField::AsString() const {
  if (DataSet() == nullptr || IsNull()) return {};
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField&>(*this), bmRead);
  return stream->Bytes();
}

TVariant TBlobField::Value() const {
  if (IsNull()) return TVariant();
  return TVariant(AsString());
}

void TBlobField::SetValue(const TVariant& value) {
  if (value.IsNull()) {
    Clear();
    return;
  }
  const std::string bytes = value.AsString();
  SetData(&bytes);
}

std::unique_ptr<TField> CreateFieldOfType(TFieldType type, int size) {
  switch (type) {
    case ftString:
    case ftFixedChar:
      return std::make_unique<TStringField>(size, type);
    case ftWideString:
      return std::make_unique<TWideStringField>(size);
    case ftSmallint:
      return std::make_unique<TSmallintField>();
    case ftWord:
      return std::make_unique<TWordField>();
    case ftInteger:
      return std::make_unique<TIntegerField>();
    case ftAutoInc:
      return std::make_unique<TAutoIncField>();
    case ftLargeint:
      return std::make_unique<TLargeintField>();
    case ftBoolean:
      return std::make_unique<TBooleanField>();
    case ftFloat:
      return std::make_unique<TFloatField>();
    case ftCurrency:
      return std::make_unique<TCurrencyField>();
    case ftBCD:
      return std::make_unique<TBCDField>();
    case ftDate:
      return std::make_unique<TDateField>();
    case ftTime:
      return std::make_unique<TTimeField>();
    case ftDateTime:
      return std::make_unique<TDateTimeField>();
    case ftBytes:
      return std::make_unique<TBytesField>(size);
    case ftVarBytes:
      return std::make_unique<TVarBytesField>(size);
    case ftMemo:
      return std::make_unique<TMemoField>();
    default:
      if (IsBlobType(type)) return std::make_unique<TBlobField>(type);
      return std::make_unique<TField>(type, size);
  }
}

}  // namespace velquarn
