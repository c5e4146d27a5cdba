// SPDX-License-Identifier: Apache-2.0
#include "Journal.h"

#include <pqxx/pqxx>
#include <set>

namespace quorlan::hq {

namespace {

// A time with an offset becomes a timestamptz; one without is not guessed
// at (NULL), its text stays in the record's data.
constexpr const char* kZonedTime =
    "CASE WHEN (r.data->>'%s') ~ '(Z|z|[+-][0-9]{2}:?[0-9]{2})$' "
    "THEN (r.data->>'%s')::timestamptz END";

std::string Zoned(const std::string& field) {
  char text[256];
  std::snprintf(text, sizeof text, kZonedTime, field.c_str(), field.c_str());
  return text;
}

// Per kind: the table, its id column, and columns taken from the data (r.data).
struct KindTable {
  fleet::Kind kind;
  const char* table;
  const char* idColumn;
  std::string extraColumns;
  std::string extraValues;
};

const std::vector<KindTable>& KindTables() {
  static const std::vector<KindTable> tables{
      {fleet::Kind::Fill, "fills", "fill_id",
       ", status, channel, dispenser, grade, volume, amount, finished_at",
       ", r.data->>'status', (r.data->>'channel')::int, (r.data->>'dispenser')::int, "
       "(r.data->>'grade')::int, (r.data->>'volume')::numeric, (r.data->>'amount')::numeric, " +
           Zoned("finished_at")},
      {fleet::Kind::Shift, "shifts", "shift_id", ", closed_at", ", " + Zoned("closed_at")},
      {fleet::Kind::Alarm, "alarms", "alarm_id", ", alarm_kind, active",
       ", r.data->>'kind', coalesce((r.data->>'active')::boolean, true)"},
      {fleet::Kind::PriceOutcome, "price_outcomes", "command_id", ", status",
       ", r.data->>'status'"},
  };
  return tables;
}

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS stations (
  station text PRIMARY KEY,
  online boolean NOT NULL DEFAULT false,
  last_seen timestamptz NOT NULL DEFAULT now(),
  presence jsonb NOT NULL DEFAULT '{}'
);
CREATE TABLE IF NOT EXISTS fills (
  row_id bigserial UNIQUE,
  station text NOT NULL, fill_id text NOT NULL, version bigint NOT NULL,
  station_seq bigint NOT NULL, sent_at text, received_at timestamptz NOT NULL DEFAULT now(),
  data jsonb NOT NULL,
  status text, channel int, dispenser int, grade int,
  volume numeric(14,2), amount numeric(14,2), finished_at timestamptz,
  PRIMARY KEY (station, fill_id, version)
);
CREATE TABLE IF NOT EXISTS shifts (
  row_id bigserial UNIQUE,
  station text NOT NULL, shift_id text NOT NULL, version bigint NOT NULL,
  station_seq bigint NOT NULL, sent_at text, received_at timestamptz NOT NULL DEFAULT now(),
  data jsonb NOT NULL, closed_at timestamptz,
  PRIMARY KEY (station, shift_id, version)
);
CREATE TABLE IF NOT EXISTS alarms (
  row_id bigserial UNIQUE,
  station text NOT NULL, alarm_id text NOT NULL, version bigint NOT NULL,
  station_seq bigint NOT NULL, sent_at text, received_at timestamptz NOT NULL DEFAULT now(),
  data jsonb NOT NULL, alarm_kind text, active boolean NOT NULL DEFAULT true,
  PRIMARY KEY (station, alarm_id, version)
);
CREATE TABLE IF NOT EXISTS price_outcomes (
  row_id bigserial UNIQUE,
  station text NOT NULL, command_id text NOT NULL, version bigint NOT NULL,
  station_seq bigint NOT NULL, sent_at text, received_at timestamptz NOT NULL DEFAULT now(),
  data jsonb NOT NULL, status text,
  PRIMARY KEY (station, command_id, version)
);
CREATE TABLE IF NOT EXISTS rejected_records (
  station text NOT NULL, kind text NOT NULL, record_id text NOT NULL, version bigint NOT NULL,
  station_seq bigint NOT NULL, data text NOT NULL, reason text NOT NULL,
  received_at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (station, kind, record_id, version)
);
CREATE TABLE IF NOT EXISTS live_states (
  station text NOT NULL, channel int NOT NULL, dispenser int NOT NULL,
  state jsonb NOT NULL, updated_at timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (station, channel, dispenser)
);
CREATE TABLE IF NOT EXISTS price_commands (
  command_id text PRIMARY KEY,
  created_at timestamptz NOT NULL DEFAULT now(),
  created_by text NOT NULL,
  stations jsonb NOT NULL,
  prices jsonb NOT NULL
);
)sql";

// The latest version of each fill.
constexpr const char* kLatestFills =
    "SELECT DISTINCT ON (station, fill_id) * FROM fills ORDER BY station, fill_id, version DESC";

nlohmann::json ParseJson(const pqxx::field& field) {
  return field.is_null() ? nlohmann::json() : nlohmann::json::parse(field.c_str());
}

}  // namespace

std::optional<Record> ReadEnvelope(const std::string& topicStation, fleet::Kind topicKind,
                                   const std::string& payload) {
  const auto envelope = nlohmann::json::parse(payload, nullptr, false);
  if (!envelope.is_object() || envelope.value("schema", 0) != fleet::kSchemaVersion) {
    return std::nullopt;
  }
  const auto text = [&](const char* key) {
    return envelope.contains(key) && envelope[key].is_string();
  };
  const auto integer = [&](const char* key) {
    return envelope.contains(key) && envelope[key].is_number_integer();
  };
  if (!text("station") || !text("kind") || !text("id") || !integer("version") || !integer("seq") ||
      !envelope.contains("data") || !envelope["data"].is_object()) {
    return std::nullopt;
  }
  Record record;
  record.station = envelope["station"].get<std::string>();
  const auto kind = fleet::KindFromName(envelope["kind"].get<std::string>());
  if (record.station != topicStation || kind != topicKind) return std::nullopt;
  record.kind = *kind;
  record.id = envelope["id"].get<std::string>();
  record.version = envelope["version"].get<std::int64_t>();
  record.seq = envelope["seq"].get<std::int64_t>();
  record.sentAt = text("at") ? envelope["at"].get<std::string>() : "";
  record.data = envelope["data"];
  if (record.id.empty() || record.id.size() > 64) return std::nullopt;
  return record;
}

Journal::Journal(const std::string& connection) : connectionString_(connection) {}

Journal::~Journal() = default;

struct Journal::Connection {
  explicit Connection(const std::string& text) : pq(text) {}
  pqxx::connection pq;
};

Journal::Connection& Journal::Open() {
  if (!connection_ || !connection_->pq.is_open()) {
    try {
      connection_ = std::make_unique<Connection>(connectionString_);
    } catch (const std::exception& failure) {
      connection_.reset();
      throw JournalError(std::string("cannot reach PostgreSQL: ") + failure.what());
    }
  }
  return *connection_;
}

void Journal::CreateSchema() {
  pqxx::work work(Open().pq);
  work.exec(kSchema);
  work.commit();
}

namespace {

// Every record of the batch in one statement per kind: a round trip per
// kind, not per record.
void InsertRecords(pqxx::work& work, const std::vector<Record>& records) {
  for (const auto& table : KindTables()) {
    auto rows = nlohmann::json::array();
    for (const auto& record : records) {
      if (record.kind != table.kind) continue;
      rows.push_back({{"station", record.station},
                      {"id", record.id},
                      {"version", record.version},
                      {"seq", record.seq},
                      {"sent_at", record.sentAt},
                      {"data", record.data}});
    }
    if (rows.empty()) continue;
    work.exec_params(std::string("INSERT INTO ") + table.table + " (station, " + table.idColumn +
                         ", version, station_seq, sent_at, data" + table.extraColumns +
                         ") SELECT r.station, r.id, r.version, r.seq, r.sent_at, r.data" +
                         table.extraValues +
                         " FROM jsonb_to_recordset($1::jsonb) AS r(station text, id text, "
                         "version bigint, seq bigint, sent_at text, data jsonb) "
                         "ON CONFLICT DO NOTHING",
                     rows.dump());
  }
}

// Every station of the records seen now, each once and in one order, so
// two head office processes never wait on each other's rows in a circle.
void TouchStations(pqxx::work& work, const std::vector<Record>& records) {
  std::set<std::string> stations;
  for (const auto& record : records) stations.insert(record.station);
  work.exec_params(
      "INSERT INTO stations (station, last_seen) "
      "SELECT name, now() FROM jsonb_array_elements_text($1::jsonb) AS name ORDER BY name "
      "ON CONFLICT (station) DO UPDATE SET last_seen = now()",
      nlohmann::json(stations).dump());
}

}  // namespace

std::size_t Journal::Ingest(const std::vector<Record>& records) {
  std::size_t setAside = 0;
  try {
    try {
      pqxx::work work(Open().pq);
      TouchStations(work, records);
      InsertRecords(work, records);
      work.commit();
      return 0;
    } catch (const pqxx::sql_error&) {
      // One of them, alone, is refused: find it.
    }
    for (const auto& record : records) {
      try {
        pqxx::work work(Open().pq);
        TouchStations(work, {record});
        InsertRecords(work, {record});
        work.commit();
      } catch (const pqxx::data_exception& refused) {
        // Anything else (a deadlock, a missing table) is not the record's
        // fault: it goes up and nothing is receipted.
        pqxx::work work(Open().pq);
        work.exec_params(
            "INSERT INTO rejected_records (station, kind, record_id, version, station_seq, "
            "data, reason) VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT DO NOTHING",
            record.station, std::string(fleet::KindName(record.kind)), record.id, record.version,
            record.seq, record.data.dump(), std::string(refused.what()));
        work.commit();
        ++setAside;
      }
    }
    return setAside;
  } catch (const pqxx::broken_connection&) {
    connection_.reset();
    throw JournalError("PostgreSQL connection lost");
  } catch (const pqxx::in_doubt_error&) {
    connection_.reset();
    throw JournalError("PostgreSQL commit in doubt");
  }
}

void Journal::SetPresence(const std::string& station, const nlohmann::json& presence) {
  pqxx::work work(Open().pq);
  work.exec_params(
      "INSERT INTO stations (station, online, last_seen, presence) VALUES ($1, $2, now(), $3) "
      "ON CONFLICT (station) DO UPDATE SET online = $2, last_seen = now(), presence = $3",
      station, presence.value("state", "") == "online", presence.dump());
  work.commit();
}

void Journal::SetLive(const std::string& station, int channel, int dispenser,
                      const nlohmann::json& state) {
  pqxx::work work(Open().pq);
  work.exec_params(
      "INSERT INTO live_states (station, channel, dispenser, state) VALUES ($1, $2, $3, $4) "
      "ON CONFLICT (station, channel, dispenser) DO UPDATE SET state = $4, updated_at = now()",
      station, channel, dispenser, state.dump());
  work.commit();
}

nlohmann::json Journal::Stations() {
  pqxx::work work(Open().pq);
  const auto rows = work.exec(
      "SELECT s.station, s.online, to_char(s.last_seen AT TIME ZONE 'UTC', "
      "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), s.presence->'lines', "
      "(SELECT count(*) FROM (SELECT DISTINCT ON (alarm_id) active FROM alarms a "
      "  WHERE a.station = s.station ORDER BY alarm_id, version DESC) latest WHERE active) "
      "FROM stations s ORDER BY s.station");
  auto stations = nlohmann::json::array();
  for (const auto& row : rows) {
    stations.push_back({{"station", row[0].as<std::string>()},
                        {"online", row[1].as<bool>()},
                        {"last_seen", row[2].as<std::string>()},
                        {"lines", row[3].is_null() ? nlohmann::json::array() : ParseJson(row[3])},
                        {"open_alarms", row[4].as<std::int64_t>()}});
  }
  return stations;
}

nlohmann::json Journal::Fills(const FillFilter& filter) {
  std::string where = " WHERE row_id > $1";
  const auto optionalInt = [](const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string();
  };
  where += " AND ($2 = '' OR station = $2)";
  where += " AND ($3 = '' OR channel = NULLIF($3, '')::int)";
  where += " AND ($4 = '' OR dispenser = NULLIF($4, '')::int)";
  where += " AND ($5 = '' OR grade = NULLIF($5, '')::int)";
  where += " AND ($6 = '' OR finished_at >= NULLIF($6, '')::timestamptz)";
  where += " AND ($7 = '' OR finished_at < NULLIF($7, '')::timestamptz)";
  where +=
      " AND ($8 = 'all' OR ($8 = 'open' AND status IN ('authorized', 'filling')) OR status = $8)";
  pqxx::work work(Open().pq);
  const auto rows = work.exec_params(
      std::string("SELECT row_id, station, data FROM (") + kLatestFills + ") latest" + where +
          " ORDER BY row_id LIMIT $9",
      filter.after, filter.station.value_or(""), optionalInt(filter.channel),
      optionalInt(filter.dispenser), optionalInt(filter.grade), filter.from.value_or(""),
      filter.to.value_or(""), filter.status, filter.limit);
  auto fills = nlohmann::json::array();
  for (const auto& row : rows) {
    auto fill = ParseJson(row[2]);
    fill["station"] = row[1].as<std::string>();
    fill["row"] = row[0].as<std::int64_t>();
    fills.push_back(std::move(fill));
  }
  return fills;
}

nlohmann::json Journal::DayTotals(const std::optional<std::string>& station,
                                  const std::string& from, const std::string& to) {
  pqxx::work work(Open().pq);
  const auto rows = work.exec_params(
      std::string("SELECT station, to_char(finished_at AT TIME ZONE 'UTC', 'YYYY-MM-DD') AS day, "
                  "count(*), coalesce(sum(volume), 0)::text, coalesce(sum(amount), 0)::text "
                  "FROM (") +
          kLatestFills +
          ") latest WHERE status = 'completed' AND ($1 = '' OR station = $1) "
          "AND finished_at >= $2::date AND finished_at < $3::date + 1 "
          "GROUP BY station, day ORDER BY station, day",
      station.value_or(""), from, to);
  auto totals = nlohmann::json::array();
  for (const auto& row : rows) {
    totals.push_back({{"station", row[0].as<std::string>()},
                      {"day", row[1].as<std::string>()},
                      {"count", row[2].as<std::int64_t>()},
                      {"volume", std::stod(row[3].as<std::string>())},
                      {"amount", std::stod(row[4].as<std::string>())}});
  }
  return totals;
}

nlohmann::json Journal::Shifts(const std::optional<std::string>& station) {
  pqxx::work work(Open().pq);
  const auto rows = work.exec_params(
      "SELECT station, data FROM (SELECT DISTINCT ON (station, shift_id) * FROM shifts "
      "ORDER BY station, shift_id, version DESC) latest WHERE ($1 = '' OR station = $1) "
      "ORDER BY station, row_id",
      station.value_or(""));
  auto shifts = nlohmann::json::array();
  for (const auto& row : rows) {
    auto shift = ParseJson(row[1]);
    shift["station"] = row[0].as<std::string>();
    shifts.push_back(std::move(shift));
  }
  return shifts;
}

std::vector<std::string> Journal::StationIds() {
  pqxx::work work(Open().pq);
  std::vector<std::string> ids;
  for (const auto& row : work.exec("SELECT station FROM stations ORDER BY station")) {
    ids.push_back(row[0].as<std::string>());
  }
  return ids;
}

void Journal::RecordCommand(const std::string& commandId, const std::string& by,
                            const nlohmann::json& stations, const nlohmann::json& prices) {
  pqxx::work work(Open().pq);
  work.exec_params(
      "INSERT INTO price_commands (command_id, created_by, stations, prices) "
      "VALUES ($1, $2, $3, $4) ON CONFLICT DO NOTHING",
      commandId, by, stations.dump(), prices.dump());
  work.commit();
}

nlohmann::json Journal::CommandOutcomes(const std::string& commandId) {
  pqxx::work work(Open().pq);
  const auto command =
      work.exec_params("SELECT stations FROM price_commands WHERE command_id = $1", commandId);
  if (command.empty()) return nullptr;
  const auto rows = work.exec_params(
      "SELECT station, data FROM price_outcomes WHERE command_id = $1 ORDER BY station", commandId);
  auto outcomes = nlohmann::json::object();
  for (const auto& row : rows) outcomes[row[0].as<std::string>()] = ParseJson(row[1]);
  return {
      {"command_id", commandId}, {"stations", ParseJson(command[0][0])}, {"outcomes", outcomes}};
}

}  // namespace quorlan::hq
