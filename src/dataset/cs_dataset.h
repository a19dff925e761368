// TcsDataset: the dataset of the dataset layer, holding rows in record
// buffers and borrowing a connection from its database's driver.
//
// STUB: the dataset framework fills this class in. The members below are the
// contract that the ODBC driver (src/odbc) and the database component rely on;
// keep their names and signatures.
#pragma once

#include <string>
#include <string_view>

#include "dataset/db_types.h"

namespace velquarn {

class TConnectionHandle;
class TField;
class TcsCustomDatabase;

class TcsDataset {
 public:
  virtual ~TcsDataset() = default;

  // The connection borrowed from the driver, or null. The driver reads and
  // sets it; the database component clears it when it releases the dataset.
  TConnectionHandle* Connection() const { return connection_; }
  TConnectionHandle*& ConnectionRef() { return connection_; }
  // True after Prepare until UnPrepare or a change of SQL.
  bool Prepared() const { return prepared_; }

  // Acquires a connection through the database when none is held; raises
  // "Unable to acquire connection from driver" on a null answer.
  void AcquireConnection();
  // Gives the connection back to the driver (force: close it, never pool).
  void ReleaseConnection(bool force);

  // Driver callbacks while describing and fetching.
  void AddColumnDef(const std::string& name, TFieldType data_type, int size, bool required,
                    int field_no, bool read_only, int precision);
  void StoreFieldValue(int field_no, const void* value, char* record_buffer, int length);
  void StoreFieldNull(int field_no, char* record_buffer);
  void StoreBlobValue(TField& field, char* record_buffer, std::string_view value);

  // Fields: FieldCount(), FieldByNumber(n) (null when no field has that
  // number), TField::FieldNo(), DataType(), Size(), DataSize(), IsDataField(),
  // SetOrigin(); they come with the dataset framework.

 protected:
  TConnectionHandle* connection_ = nullptr;  // borrowed from the driver
  bool prepared_ = false;
};

}  // namespace velquarn
