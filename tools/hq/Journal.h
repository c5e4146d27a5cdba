// SPDX-License-Identifier: Apache-2.0
#pragma once
// Head office's journal in PostgreSQL. Each record a station sends is kept
// once per (station, kind, id, version): a resend finds its row there and
// adds nothing.

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Topics.h"

namespace quorlan::hq {

class JournalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One record as a station's envelope carries it.
struct Record {
  std::string station;
  fleet::Kind kind = fleet::Kind::Fill;
  std::string id;
  std::int64_t version = 0;
  std::int64_t seq = 0;  // the station's outbox row, named in the receipt
  std::string sentAt;
  nlohmann::json data;
};

// A record from a station's envelope; nullopt when it is not one this head
// office can read (another schema, a field missing or of the wrong type, or
// another station or kind than the topic's).
std::optional<Record> ReadEnvelope(const std::string& topicStation, fleet::Kind topicKind,
                                   const std::string& payload);

struct FillFilter {
  std::optional<std::string> station;
  std::int64_t after = 0;
  int limit = 100;
  std::optional<int> channel;
  std::optional<int> dispenser;
  std::optional<int> grade;
  std::string status = "completed";  // or cancelled, open, all
  std::optional<std::string> from;   // RFC 3339, inclusive
  std::optional<std::string> to;     // exclusive
};

class Journal {
 public:
  // A libpq connection string, e.g. "host=/run/postgresql dbname=hq".
  explicit Journal(const std::string& connection);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  void CreateSchema();

  // The records in one transaction; a repeat adds nothing. When PostgreSQL
  // refuses one (a value it cannot take), each goes in its own and the
  // refused one is kept in rejected_records, so it cannot hold back the
  // others forever; answers how many were set aside. A lost connection
  // throws JournalError: nothing is known committed.
  std::size_t Ingest(const std::vector<Record>& records);
  void SetPresence(const std::string& station, const nlohmann::json& presence);
  void SetLive(const std::string& station, int channel, int dispenser, const nlohmann::json& state);

  nlohmann::json Stations();
  nlohmann::json Fills(const FillFilter& filter);
  // Completed fills per station and day (UTC), days from `from` to `to` (YYYY-MM-DD).
  nlohmann::json DayTotals(const std::optional<std::string>& station, const std::string& from,
                           const std::string& to);
  nlohmann::json Shifts(const std::optional<std::string>& station);
  std::vector<std::string> StationIds();
  void RecordCommand(const std::string& commandId, const std::string& by,
                     const nlohmann::json& stations, const nlohmann::json& prices);
  nlohmann::json CommandOutcomes(const std::string& commandId);

 private:
  std::string connectionString_;
  struct Connection;  // the libpqxx connection, kept out of this header
  std::unique_ptr<Connection> connection_;
  Connection& Open();
};

}  // namespace quorlan::hq
