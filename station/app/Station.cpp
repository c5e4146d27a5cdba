// SPDX-License-Identifier: Apache-2.0
#include "station/app/Station.h"

#include <algorithm>
#include <chrono>

#include "station/base/Log.h"
#include "station/format/EventData.h"

namespace quorlan::station {

namespace {

// How often unpaid fills are looked at for drive-offs.
constexpr std::chrono::seconds kDriveOffCheck{5};
// How often for lapsed locks: a till waits at most this long beyond the
// lock's time to see the fill free.
constexpr std::chrono::seconds kLockCheck{1};
// How often the database is looked at.
constexpr std::chrono::milliseconds kJournalWatch{500};

bool Simulated(const LineConfig& line) {
  return line.port == kSimulatedPort;
}

}  // namespace

Station::Station(const StationConfig& config)
    : config_(config), zone_(Zone::Find(config.timezone)) {
  if (!zone_) {
    throw ConfigError(kExitConfig,
                      config_.file + ": '" + config_.timezone + "' is not a known time zone");
  }
  const bool anySimulated = std::any_of(config_.lines.begin(), config_.lines.end(), Simulated);
  const bool allSimulated = std::all_of(config_.lines.begin(), config_.lines.end(), Simulated);
  if (anySimulated && !allSimulated) {
    // One driver serves every line through one transport.
    throw ConfigError(kExitConfig, config_.file + ": simulated and serial lines cannot be mixed");
  }
  try {
    store_ = std::make_unique<Store>(config_.database);
  } catch (const sql::Error& error) {
    throw ConfigError(kExitConfig, config_.database + ": " + error.what());
  }
  hub_ = std::make_unique<EventHub>(store_->events);
  Forecourt::TakeStartingPrices(config_, *store_, *hub_);
  lines_ = std::make_unique<station::Lines>(config_, *store_, *hub_);
  shifts_ = std::make_unique<station::Shifts>(config_, *zone_, *store_, *hub_, *lines_);
  forecourt_ = std::make_unique<station::Forecourt>(config_, *store_, *hub_, *lines_, *shifts_);
  till_ = std::make_unique<station::Till>(config_, *store_, *hub_, *lines_);
}

Station::~Station() {
  Stop();
}

void Station::Start() {
  lines_->Start();
  watching_ = true;
  watch_ = std::thread([this] { WatchJournal(); });
  const bool first = shifts_->Begin();
  keeper_ = std::thread([this, first] { Keep(first); });
}

void Station::Stop() {
  {
    std::lock_guard lock(watchMutex_);
    watching_ = false;
  }
  watchWake_.notify_all();
  if (watch_.joinable()) watch_.join();
  {
    std::lock_guard lock(keeperMutex_);
    keeperStop_ = true;
  }
  keeperWake_.notify_all();
  if (shifts_) shifts_->Stop();
  if (keeper_.joinable()) keeper_.join();
  if (lines_) lines_->Stop();
  if (hub_) hub_->Close();
}

void Station::WatchJournal() {
  std::string said;
  std::unique_lock lock(watchMutex_);
  while (watching_) {
    lock.unlock();
    const std::string problem = store_->database.Check();
    if (store_->database.TakeReopened()) Log("database: opened anew at {}", config_.database);
    if (problem != said) {
      if (!problem.empty()) {
        Log("database: {}; new authorizations are refused until it can be written", problem);
        hub_->Publish(kAlarmEvent, AlarmEventData(kDatabaseAlarm, 0, 0, 0, problem));
      } else {
        Log("database: written again");
      }
      said = problem;
    }
    lock.lock();
    watchWake_.wait_for(lock, kJournalWatch, [this] { return !watching_; });
  }
}

SessionView Station::Session(const std::string& name, Role role) const {
  SessionView session{name, role, config_.currency, zone_->Name(), config_.grades};
  std::sort(session.grades.begin(), session.grades.end(),
            [](const GradeConfig& a, const GradeConfig& b) { return a.number < b.number; });
  return session;
}

void Station::Keep(bool openingTotals) {
  if (openingTotals) shifts_->ReadOpening();
  const bool driveOffs = config_.driveOffAfter.count() > 0;
  auto nextDriveOffs = std::chrono::steady_clock::now();
  std::unique_lock lock(keeperMutex_);
  while (!keeperStop_) {
    lock.unlock();
    // Each is tried again at its next check.
    try {
      till_->ReleaseLapsedLocks(Now());
    } catch (const std::exception&) {
    }
    if (driveOffs && std::chrono::steady_clock::now() >= nextDriveOffs) {
      try {
        till_->RaiseDriveOffs();
      } catch (const std::exception&) {
      }
      nextDriveOffs = std::chrono::steady_clock::now() + kDriveOffCheck;
    }
    lock.lock();
    keeperWake_.wait_for(lock, kLockCheck, [this] { return keeperStop_; });
  }
}

}  // namespace quorlan::station
