// TParam and TParams: the parameters of an SQL statement, in order of
// appearance. A parameter has a name, a direction (TParamType), a data type
// and a value; assigning a value through an As... setter also sets the data
// type when the parameter has none yet (ftUnknown).
//
// The ODBC binding reads a parameter's native form with GetDataSize and
// GetData and writes an output value back with SetData and SetSize.
// Instances are used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/db_types.h"
#include "dataset/variant.h"

namespace velquarn {

class TField;

class TParam {
 public:
  TParam() = default;
  TParam(std::string name, TParamType param_type, TFieldType data_type = ftUnknown);

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType type) { param_type_ = type; }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  // The byte length of a returned output value, set by the driver.
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }

  bool IsNull() const { return value_.IsNull(); }
  void Clear() { value_ = TVariant(); }
  const TVariant& Value() const { return value_; }
  // Stores the value; an ftUnknown parameter takes the type of the value
  // (ftBoolean, ftInteger or ftLargeint, ftFloat, ftDateTime, ftString).
  void SetValue(const TVariant& value);

  std::string AsString() const { return value_.AsString(); }
  int32_t AsInteger() const { return static_cast<int32_t>(value_.AsInteger()); }
  int64_t AsLargeInt() const { return value_.AsInteger(); }
  double AsFloat() const { return value_.AsFloat(); }
  TDateTime AsDateTime() const { return value_.AsDateTime(); }
  bool AsBoolean() const { return value_.AsBoolean(); }
  // Each setter stores the value and sets the data type named after it.
  void SetAsString(std::string value);
  void SetAsInteger(int32_t value);
  void SetAsLargeInt(int64_t value);
  void SetAsFloat(double value);
  void SetAsCurrency(double value);
  void SetAsBoolean(bool value);
  void SetAsDate(TDateTime value);
  void SetAsTime(TDateTime value);
  void SetAsDateTime(TDateTime value);
  void SetAsMemo(std::string value);
  void SetAsBlob(std::string value);

  // Native form for binding. GetDataSize: text length + 1 for ftString,
  // ftFixedChar, ftWideString and ftUnknown; the byte length for the blob
  // types, ftBytes and ftVarBytes; 2 for ftSmallint, ftWord and ftBoolean;
  // 4 for ftInteger, ftAutoInc, ftDate and ftTime; 8 for ftFloat,
  // ftCurrency, ftDateTime and ftLargeint; 34 for ftBCD; 0 otherwise.
  int GetDataSize() const;
  // Writes GetDataSize bytes: text zero-terminated, byte strings as they
  // are, numbers in their native width (ftBoolean 0 or 1 as int16), ftDate
  // the day number, ftTime milliseconds since midnight, ftDateTime the double
  // of the record slot (slot_format.h).
  void GetData(void* buffer) const;
  // Reads a value of the parameter's data type from its native form, the
  // inverse of GetData. Text (ftString and every type bound as text, dates
  // and times included) is read up to its terminator, at most `length`
  // bytes; byte strings take exactly `length` bytes.
  void SetData(const void* buffer, int length);

  // Takes the field's data type and current value.
  void AssignField(const TField& field);
  // Takes the field's data type and the given value.
  void AssignFieldValue(const TField& field, const TVariant& value);
  // Copies name, direction, data type, value and size.
  void Assign(const TParam& source);

 private:
  // The typed setters: the type and the value together.
  void SetTypedValue(TFieldType type, TVariant value);

  std::string name_;
  TParamType param_type_ = ptUnknown;
  TFieldType data_type_ = ftUnknown;
  int size_ = 0;
  TVariant value_;
};

class TParams {
 public:
  TParams() = default;
  TParams(const TParams& other) { Assign(other); }
  TParams& operator=(const TParams& other) {
    if (this != &other) Assign(other);
    return *this;
  }

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  TParam& Items(int index) { return *items_.at(index); }
  const TParam& Items(int index) const { return *items_.at(index); }
  TParam& operator[](int index) { return Items(index); }

  // Appends a parameter; repeated names give repeated parameters.
  TParam& CreateParam(TFieldType data_type, std::string name, TParamType param_type);
  void Clear() { items_.clear(); }
  // The first parameter of that name (case-insensitive), or null.
  TParam* FindParam(std::string_view name);
  // As FindParam; raises EDatabaseError "Parameter '%s' not found".
  TParam& ParamByName(std::string_view name);
  // Replaces this list with copies of the other's parameters.
  void Assign(const TParams& other);
  // For each parameter here, copies type and value of the other list's
  // parameter of the same name, if there is one.
  void AssignValues(const TParams& other);

 private:
  std::vector<std::unique_ptr<TParam>> items_;
};

// Splits statement text into the text sent to the driver and its parameters.
// One literal flag is flipped by each ", ' and `. Outside a literal "::"
// becomes ":" and ":name" becomes "?" and adds a parameter "name" (ptUnknown,
// ftUnknown) to params when params is not null. The name ends at a blank,
// comma, semicolon, ")", CR or LF met outside a literal, or at the end; a
// quoted name loses its leading quote and one trailing quote.
std::string ParseSQL(std::string_view sql, TParams* params);

}  // namespace velquarn
