// Load and soak: the full number of event streams and a steady stream of
// requests against four faulty lines of eight dispensers, fills running all
// the time. QUORLAN_SOAK_SECONDS sets the length (the short default runs
// in the suite; docs/reliability.md gives the long run).

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "EventStream.h"
#include "ServiceHarness.h"

namespace quorlan::service_test {
namespace {

constexpr int kLines = 4;
constexpr int kDispensers = 8;
constexpr int kStreams = 64;
constexpr int kRequestThreads = 4;
constexpr double kFaultShare = 0.05;

struct Sample {
  int second;
  long rssKib;
  int descriptors;
};

// One client's loop: reads of every kind, authorizations of whatever
// dispenser is free, now and then a price change.
void Drive(const Service& service, unsigned seed, const std::atomic<bool>& running,
           std::atomic<std::uint64_t>& served, std::atomic<std::uint64_t>& wrong,
           std::string& firstWrong, std::mutex& wrongMutex) {
  std::mt19937 random(seed);
  auto view = service.Client("view");
  auto pos = service.Client("operate");
  auto admin = service.Client("admin");
  const auto expect = [&](const httplib::Result& result, std::set<int> allowed,
                          const std::string& what) {
    const int status = result ? result->status : -1;
    ++served;
    if (!allowed.count(status)) {
      ++wrong;
      std::lock_guard lock(wrongMutex);
      if (firstWrong.empty()) {
        firstWrong = what + " -> " + std::to_string(status) + " " + (result ? result->body : "");
      }
    }
  };
  while (running) {
    const int c = 1 + int(random() % kLines), d = 1 + int(random() % kDispensers);
    const std::string one = "/api/v1/dispensers/" + std::to_string(c) + "/" + std::to_string(d);
    switch (random() % 8) {
      case 0:
        expect(view->Get("/api/v1/dispensers"), {200}, "dispensers");
        break;
      case 1:
        // Faults make a dispenser or a line unhealthy for a while: 503.
        expect(view->Get("/api/v1/health"), {200, 503}, "health");
        break;
      case 2:
        expect(view->Get("/api/v1/fills?limit=20&after=" + std::to_string(random() % 50)), {200},
               "fills");
        break;
      case 3:
        expect(view->Get("/api/v1/prices"), {200}, "prices");
        break;
      case 4: {
        const json price = json::array({{{"channel", c},
                                         {"dispenser", d},
                                         {"grade", 1 + int(random() % 4)},
                                         {"price", double(4000 + random() % 2000) / 100}}});
        expect(admin->Put("/api/v1/prices", price.dump(), "application/json"), {200}, "prices put");
        break;
      }
      default: {
        const json body{{"grade", 1 + int(random() % 4)},
                        {"volume", double(50 + random() % 250) / 100}};
        // 409 while the dispenser is busy, 502/503 when a fault hits it.
        expect(pos->Post(one + "/authorize", body.dump(), "application/json"), {200, 409, 502, 503},
               "authorize " + one);
      }
    }
  }
}

TEST(ServiceSoak, StreamsAndRequestsOverFaultyLinesLoseNothingAndStayFlat) {
  const int seconds = Setting("QUORLAN_SOAK_SECONDS", 30);
  // Bad digits (a bad reply, read again) only when asked for.
  const bool badDigits = Setting("QUORLAN_SOAK_BAD_DIGITS", 0) != 0;
  TempFolder dir;
  SimLines lines(dir.Path(), kLines, kDispensers);
  Service service(dir, WriteConfig(dir, &lines));
  SeedPrices(*service.Client("admin"), kLines, kDispensers);

  std::vector<std::unique_ptr<EventStream>> streams;
  for (int i = 0; i < kStreams; ++i) {
    streams.push_back(std::make_unique<EventStream>(service.Port(), SecretOf("view")));
  }
  // Every stream has its snapshot before the load begins.
  ASSERT_TRUE(WaitFor([&] {
    return std::all_of(streams.begin(), streams.end(), [](const auto& stream) {
      return stream->Events() >= std::size_t(kLines * kDispensers);
    });
  }));
  {
    EventStream extra(service.Port(), SecretOf("view"));
    ASSERT_TRUE(WaitFor([&] { return extra.Ended(); }));
    EXPECT_EQ(extra.Status(), 503) << "one stream over the limit";
  }

  lines.StartFaults(kFaultShare, 16, badDigits);
  std::atomic<bool> running{true};
  std::atomic<std::uint64_t> served{0}, wrong{0};
  std::string firstWrong;
  std::mutex wrongMutex;
  std::vector<std::thread> clients;
  for (int i = 0; i < kRequestThreads; ++i) {
    clients.emplace_back([&, i] {
      Drive(service, unsigned(100 + i), running, served, wrong, firstWrong, wrongMutex);
    });
  }
  std::vector<Sample> samples;
  const auto start = std::chrono::steady_clock::now();
  for (int second = 0; second < seconds; ++second) {
    std::this_thread::sleep_until(start + std::chrono::seconds(second + 1));
    samples.push_back({second + 1, service.RssKib(), service.OpenDescriptors()});
  }
  running = false;
  for (auto& client : clients) client.join();
  lines.StopFaults();

  // The fills in flight end, then the journal holds exactly what the
  // dispensers delivered.
  auto view = service.Client("view");
  JournalSums journal;
  std::string difference;
  const auto balanced = [&] {
    journal = ReadJournal(*view);
    difference = Imbalance(journal, lines);
    return difference.empty();
  };
  EXPECT_TRUE(WaitFor(balanced, std::chrono::seconds(60))) << difference;
  EXPECT_FALSE(journal.duplicate);

  // Every stream saw every fill, in one order.
  std::vector<std::int64_t> journalIds;
  for (std::int64_t after = 0;;) {
    const auto page = view->Get("/api/v1/fills?limit=1000&after=" + std::to_string(after));
    ASSERT_TRUE(page && page->status == 200);
    const json fills = json::parse(page->body);
    if (fills.empty()) break;
    for (const json& fill : fills) journalIds.push_back(after = fill["id"].get<std::int64_t>());
  }
  const std::set<std::int64_t> expected(journalIds.begin(), journalIds.end());
  EXPECT_TRUE(WaitFor([&] {
    return std::all_of(streams.begin(), streams.end(),
                       [&](const auto& s) { return s->FillIds().size() >= expected.size(); });
  }));
  std::size_t delivered = 0;
  const auto reference = streams.front()->FillIds();
  for (const auto& stream : streams) {
    const auto ids = stream->FillIds();
    delivered += stream->Events();
    EXPECT_EQ(stream->Fault(), "");
    EXPECT_EQ(std::set<std::int64_t>(ids.begin(), ids.end()), expected);
    EXPECT_EQ(ids, reference) << "every stream in the same order";
  }

  // Flat after warm-up: the first fifth of the run.
  const Sample& warm = samples.at(samples.size() / 5);
  const Sample& end = samples.back();
  std::printf(
      "soak %d s: %llu requests (%llu unexpected answers), %zu events delivered to %d streams, "
      "%zu fills journaled, %llu faults injected; RSS %ld -> %ld KiB, descriptors %d -> %d "
      "(at %d s and %d s)\n",
      seconds, (unsigned long long)served.load(), (unsigned long long)wrong.load(), delivered,
      kStreams, journal.fills, (unsigned long long)lines.FaultsInjected(), warm.rssKib, end.rssKib,
      warm.descriptors, end.descriptors, warm.second, end.second);
  EXPECT_EQ(wrong.load(), 0u) << firstWrong;
  EXPECT_GT(journal.fills, 0u);
  EXPECT_LE(end.descriptors, warm.descriptors + 8);
#if !defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer holds freed memory in quarantine, so resident memory
  // grows by design there; only a plain build says anything about leaks.
  EXPECT_LE(end.rssKib, warm.rssKib + 16 * 1024);
#endif

  EXPECT_EQ(service.Terminate(), 0);
  for (auto& stream : streams) stream->Close();
}

}  // namespace
}  // namespace quorlan::service_test
