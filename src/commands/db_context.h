// TDBContext: the state one client connection keeps: its query dataset, its
// database component and the server time zone of the opened database
// section. Both objects are owned and empty until `open` creates them;
// destruction frees the query first, then the database component, and
// swallows their errors. Used by the connection's own thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "protocol/connection_context.h"

namespace velquarn {

class TcsQuery;
class TcsODBCDatabase;

class TDBContext : public TContext {
 public:
  // The deleters are defined with the context, where both classes are
  // complete, so this header needs only their declarations.
  struct TQueryDeleter {
    void operator()(TcsQuery* query) const noexcept;
  };
  struct TDatabaseDeleter {
    void operator()(TcsODBCDatabase* database) const noexcept;
  };
  using TQueryPtr = std::unique_ptr<TcsQuery, TQueryDeleter>;
  using TDatabasePtr = std::unique_ptr<TcsODBCDatabase, TDatabaseDeleter>;

  TDBContext() = default;
  ~TDBContext() override;

  TcsQuery* Query() const { return query_.get(); }
  TcsODBCDatabase* Database() const { return database_.get(); }
  int32_t ServerTimeZone() const { return server_time_zone_; }
  // The database section (or data source) the last `open` named.
  const std::string& SectionName() const { return section_name_; }

  // Written by `open` only.
  void SetQuery(TQueryPtr query) { query_ = std::move(query); }
  void SetDatabase(TDatabasePtr database) { database_ = std::move(database); }
  void SetServerTimeZone(int32_t hours) { server_time_zone_ = hours; }
  void SetSectionName(std::string name) { section_name_ = std::move(name); }

  // Closes the query dataset if there is one and it is open (after a
  // connection failure). Raises what closing raises.
  void CloseQuery();
  // Closes the database component's connections if there is one (on
  // disconnect). Raises what closing raises.
  void CloseDatabase();
  // Frees the query, then the database component; never throws.
  void ResetQueryAndDatabase() noexcept;

 private:
  TQueryPtr query_;
  TDatabasePtr database_;
  int32_t server_time_zone_ = 0;
  std::string section_name_;
};

}  // namespace velquarn
