// TcsUpdateWriter: the one seam through which a query dataset writes a
// posted or deleted row to the database. A query's UpdateObject (borrowed)
// and its UpdateParams (owned; the generated update SQL) are writers; a post
// or delete with neither writes nothing.
// Instances are used by the thread of the dataset they serve.
#pragma once

#include "dataset/component.h"
#include "dataset/db_types.h"

namespace velquarn {

class TcsDataset;

class TcsUpdateWriter : public TComponent {
 public:
  // True when the writer can write rows. The generated-SQL writer answers
  // whether it names a table; editing is allowed only then (or with an
  // UpdateObject or LocalEdit).
  virtual bool CanWrite() const { return true; }
  // Writes the dataset's active row (ukModify, ukInsert) or deletes the row
  // at its cursor (ukDelete); old values through the fields' OldValue.
  // Database errors pass through as EcsSQLError.
  virtual void ApplyUpdate(TcsDataset& dataset, TUpdateKind kind) = 0;
};

}  // namespace velquarn
