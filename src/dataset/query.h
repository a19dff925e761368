// TcsQuery: the query dataset that programs and the server's command
// handlers use. It is TcsDataset with Prepare and UnPrepare published.
// Used by one thread at a time.
#pragma once

#include <string>
#include <string_view>

#include "dataset/cs_dataset.h"

namespace velquarn {

class TcsQuery : public TcsDataset {
 public:
  using TcsDataset::ExecSQL;
  using TcsDataset::Prepare;
  using TcsDataset::UnPrepare;

  // Always "6.7.14"; setting it changes nothing.
  std::string About() const { return "6.7.14"; }
  void SetAbout(const std::string&) {}

  // Sets the text of SQL, runs ExecSQL and returns RowsAffected.
  int ExecSQL(std::string_view sql);
};

}  // namespace velquarn
