#include "dataset/query.h"

namespace velquarn {

int TcsQuery::ExecSQL(std::string_view sql) {
  SetSQLText(sql);
  return TcsDataset::ExecSQL();
}

}  // namespace velquarn
