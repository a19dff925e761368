// Fields and field definitions of the dataset framework.
//
// A TFieldDef describes one result column (name, type, size, field number,
// attributes). A TField is the object through which a row's value is read
// and written: data fields (FieldNo above 0) live in the record buffer's
// slot of their field number, calculated and lookup fields (FieldKind
// fkCalculated, fkLookup; FieldNo 0) in the buffer's calculated-field area.
// There is one field class per family of field types; each converts between
// its slot bytes and TVariant, and the As... accessors go through that.
//
// The slot value formats are those of slot_format.h.
//
// Fields are used by the thread that uses their dataset.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/db_types.h"
#include "dataset/variant.h"

namespace velquarn {

class TDataSet;
enum TDataSetState : uint8_t;

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup };

// Field definition attributes (a bit set).
enum TFieldAttribute : uint8_t { faHiddenCol = 1, faReadonly = 2, faRequired = 4 };
using TFieldAttributes = uint8_t;

// The number of value bytes that a slot of this type and size holds.
int FieldValueSize(TFieldType type, int size);
// True for the types whose slot holds a blob-store index.
bool IsBlobType(TFieldType type);

struct TFieldDef {
  std::string name;
  TFieldType data_type = ftUnknown;
  int size = 0;
  bool required = false;
  int field_no = 0;
  int precision = 0;
  TFieldAttributes attributes = 0;
};

class TFieldDefs {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const TFieldDef& Items(int index) const { return items_.at(index); }
  TFieldDef& Add(const TFieldDef& def);
  void Clear() { items_.clear(); }
  int IndexOf(std::string_view name) const;  // case-insensitive; -1 if absent

 private:
  std::vector<TFieldDef> items_;
};

class TField {
 public:
  explicit TField(TFieldType data_type, int size = 0);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;
  virtual ~TField() = default;

  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(std::string name) { field_name_ = std::move(name); }
  const std::string& DisplayLabel() const { return display_label_; }
  void SetDisplayLabel(std::string label) { display_label_ = std::move(label); }
  // The label when one is set, else the field name.
  const std::string& DisplayName() const;
  TFieldType DataType() const { return data_type_; }
  int Size() const { return size_; }
  void SetSize(int size) {
    size_ = size;
    data_size_ = FieldValueSize(data_type_, size_);
  }
  // Value bytes of the field's slot (FieldValueSize of type and size).
  int DataSize() const { return data_size_; }
  int FieldNo() const { return field_no_; }
  int Precision() const { return precision_; }
  void SetPrecision(int precision) { precision_ = precision; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind kind) { field_kind_ = kind; }
  bool IsDataField() const { return field_kind_ == fkData; }
  bool IsBlob() const { return IsBlobType(data_type_); }
  const std::string& Origin() const { return origin_; }
  void SetOrigin(std::string origin) { origin_ = std::move(origin); }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  bool Required() const { return required_; }
  void SetRequired(bool required) { required_ = required; }
  // Offset of the field's null byte in the calculated-field area.
  int Offset() const { return offset_; }
  TDataSet* DataSet() const { return dataset_; }
  // Set by the blob stream when it stores a written value.
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }

  // Lookup fields: the value is LookupResultField of the LookupDataSet row
  // whose LookupKeyFields equal this dataset's KeyFields (";" separated).
  TDataSet* LookupDataSet() const { return lookup_dataset_; }
  void SetLookup(TDataSet* dataset, std::string key_fields, std::string lookup_key_fields,
                 std::string lookup_result_field);
  const std::string& KeyFields() const { return key_fields_; }
  const std::string& LookupKeyFields() const { return lookup_key_fields_; }
  const std::string& LookupResultField() const { return lookup_result_field_; }

  // Values of the dataset's active record (see TDataSet::GetFieldData).
  bool IsNull() const;
  // Reads the slot bytes into dest (DataSize bytes); false when null.
  bool GetData(void* dest) const;
  // Writes the slot bytes from source, or null for a null value. For blob
  // fields source points to a std::string.
  void SetData(const void* source);
  void Clear() { SetData(nullptr); }

  virtual TVariant Value() const;
  virtual void SetValue(const TVariant& value);
  TVariant OldValue() const;  // the value as last fetched or posted
  TVariant NewValue() const;  // the value in the edit buffer

  // Conversions; a null value reads as "", 0, 0.0 or False. A conversion the
  // type cannot make raises EDatabaseError "Cannot access field '%s' as type
  // %s" or the EConvertError of the text.
  virtual std::string AsString() const { return Value().AsString(); }
  int32_t AsInteger() const { return static_cast<int32_t>(Value().AsInteger()); }
  int64_t AsLargeInt() const { return Value().AsInteger(); }
  double AsFloat() const { return Value().AsFloat(); }
  TDateTime AsDateTime() const { return Value().AsDateTime(); }
  bool AsBoolean() const { return Value().AsBoolean(); }
  void SetAsString(const std::string& value) { SetValue(TVariant(value)); }
  void SetAsInteger(int64_t value) { SetValue(TVariant(value)); }
  void SetAsFloat(double value) { SetValue(TVariant(value)); }
  void SetAsDateTime(TDateTime value) { SetValue(TVariant::FromDateTime(value)); }
  void SetAsBoolean(bool value) { SetValue(TVariant(value)); }

  // Events: OnValidate runs before a value is written (it may throw to
  // refuse it); OnChange after.
  std::function<void(TField&)> OnValidate;
  std::function<void(TField&)> OnChange;

 protected:
  // The slot's value bytes in the dataset's active record, or null.
  const char* Data() const;
  [[noreturn]] void AccessError(const char* type_name) const;

 private:
  friend class TDataSet;

  // Value() read with the dataset in `state` for the call; null without one.
  TVariant ValueInState(TDataSetState state) const;

  std::string field_name_;
  std::string display_label_;
  std::string origin_;
  TFieldType data_type_;
  int size_;
  int data_size_;
  int field_no_ = 0;
  int precision_ = 0;
  int offset_ = 0;
  TFieldKind field_kind_ = fkData;
  bool read_only_ = false;
  bool required_ = false;
  bool modified_ = false;
  TDataSet* dataset_ = nullptr;         // the owner
  TDataSet* lookup_dataset_ = nullptr;  // borrowed
  std::string key_fields_;
  std::string lookup_key_fields_;
  std::string lookup_result_field_;
};

// ftString, ftFixedChar, and ftWideString (TWideStringField).
class TStringField : public TField {
 public:
  explicit TStringField(int size = 20, TFieldType type = ftString) : TField(type, size) {}
  std::string AsString() const override;
  TVariant Value() const override;
  void SetValue(const TVariant& value) override;
};

class TWideStringField : public TStringField {
 public:
  explicit TWideStringField(int size = 20) : TStringField(size, ftWideString) {}
};

// ftSmallint, ftWord, ftInteger, ftAutoInc and ftLargeint.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TFieldType type = ftInteger) : TField(type) {}
  TVariant Value() const override;
  void SetValue(const TVariant& value) override;
};

class TSmallintField : public TIntegerField {
 public:
  TSmallintField() : TIntegerField(ftSmallint) {}
};
class TWordField : public TIntegerField {
 public:
  TWordField() : TIntegerField(ftWord) {}
};
class TAutoIncField : public TIntegerField {
 public:
  TAutoIncField() : TIntegerField(ftAutoInc) {}
};
class TLargeintField : public TIntegerField {
 public:
  TLargeintField() : TIntegerField(ftLargeint) {}
};

class TBooleanField : public TField {
 public:
  TBooleanField() : TField(ftBoolean) {}
  TVariant Value() const override;
  void SetValue(const TVariant& value) override;
};

// ftFloat and ftCurrency.
class TFloatField : public TField {
 public:
  explicit TFloatField(TFieldType type = ftFloat) : TField(type) {}
  TVariant Value() const override;
  void SetValue(const TVariant& value) override;
};

class TCurrencyField : public TFloatField {
 public:
  TCurrencyField() : TFloatField(ftCurrency) {}
};

// The 34-byte packed decimal of an ftBCD slot: precision, sign (bit 7) and
// scale (bits 0-5), then 64 decimal digits two to a byte, most significant
// first, the last `scale` of them after the decimal point.
struct TBcdRecord {
  uint8_t precision = 0;
  uint8_t sign_scale = 0;
  uint8_t digits[32] = {};
};
static_assert(sizeof(TBcdRecord) == 34);

class TBCDField : public TField {
 public:
  TBCDField() : TField(ftBCD) {}
  std::string AsString() const override;  // the exact decimal text
  TVariant Value() const override;        // as a float
  void SetValue(const TVariant& value) override;
};

// ftDate, ftTime and ftDateTime.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TFieldType type = ftDateTime) : TField(type) {}
  TVariant Value() const override;
  std::string AsString() const override;  // regional date, time or both
  void SetValue(const TVariant& value) override;
};

class TDateField : public TDateTimeField {
 public:
  TDateField() : TDateTimeField(ftDate) {}
};
class TTimeField : public TDateTimeField {
 public:
  TTimeField() : TDateTimeField(ftTime) {}
};

// ftBytes and ftVarBytes: the size raw bytes as a byte string.
class TBytesField : public TField {
 public:
  explicit TBytesField(int size = 16, TFieldType type = ftBytes) : TField(type, size) {}
  TVariant Value() const override;
  void SetValue(const TVariant& value) override;
};

class TVarBytesField : public TBytesField {
 public:
  explicit TVarBytesField(int size = 16) : TBytesField(size, ftVarBytes) {}
};

// The blob types: the value lives in the dataset's blob store and is read
// and written through a blob stream (TDataSet::CreateBlobStream).
class TBlobField : public TField {
 public:
  explicit TBlobField(TFieldType type = ftBlob) : TField(type) {}
  std::string AsString() const override;  // null reads as ""
  TVariant Value() const override;
  void SetValue(const TVariant& value) override;
};

class TMemoField : public TBlobField {
 public:
  TMemoField() : TBlobField(ftMemo) {}
};

// A new field object of the class for the type (the base TField for types
// without a class of their own, whose value is always null).
std::unique_ptr<TField> CreateFieldOfType(TFieldType type, int size);

}  // namespace velquarn
