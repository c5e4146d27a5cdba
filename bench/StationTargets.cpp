// The station service's rows of the target table: each a ratio of two
// figures of this same run.

#include "TargetSummary.h"
#include "support/TargetRows.h"

namespace quorlan::bench {

void TargetSummary::PrintStationRows() const {
  if (Find("Station/adaptive_polling")) {
    const std::string name = "Station/adaptive_polling";
    const double poll = Counter(name, "poll_line_ms");
    const double sweep = Counter(name, "sweep_ms");
    const double active = Counter(name, "active_p50_ms");
    for (const char* group : {"active", "idle"}) {
      const std::string prefix = std::string(group) + "_";
      Row(std::string("polling: ") + group + " interval p50/p90/p99/max ms",
          Format("%.0f / %.0f / %.0f / %.0f", Counter(name, prefix + "p50_ms"),
                 Counter(name, prefix + "p90_ms"), Counter(name, prefix + "p99_ms"),
                 Counter(name, prefix + "max_ms")),
          "", "");
    }
    // A poll time: the station's own, over the same window (the machine's
    // load moves between the station's window and the plain sweep after it).
    const double pollTime = 1e3 / Counter(name, "polls_per_s");
    const double activePolls = active / pollTime;
    Row("polling: filling p50 / the window's poll time",
        Format("%.2f (%.1f / %.1f ms)", activePolls, active, pollTime), "<= 4",
        Verdict(activePolls <= 4));
    const double gain = 32 * pollTime / active;
    Row("polling: 32 poll times / filling p50",
        Format("%.2f (%.0f / %.1f ms)", gain, 32 * pollTime, active), ">= 8", Verdict(gain >= 8));
    const double idleMax = Counter(name, "idle_max_ms") / (32 * pollTime);
    Row("polling: idle max / 32 poll times",
        Format("%.2f (%.0f / %.0f ms)", idleMax, Counter(name, "idle_max_ms"), 32 * pollTime),
        "<= 2", Verdict(idleMax <= 2));
    Row("polling: plain sweep measured after",
        Format("%.0f ms (%.1f ms a poll)", sweep, sweep / 32), "", "");
    Row("polling: in turns of the line, filling p50 / max; idle max",
        Format("%.0f / %.0f; %.0f", Counter(name, "active_p50_polls"),
               Counter(name, "active_max_polls"), Counter(name, "idle_max_polls")),
        "", "");
    Row("polling: filling p50 / status poll line time",
        Format("%.2f (%.1f / %.1f ms)", active / poll, active, poll), "", "");
  }
  if (Find("Station/polling_during_commands")) {
    const std::string name = "Station/polling_during_commands";
    // A turn time: the window's own, its status polls and commands' requests
    // over its span.
    for (const auto& [prefix, what] : {std::pair{"close", "shift close (128 totals)"},
                                       {"prices", "price change (31 downloads)"}}) {
      const std::string p = prefix;
      const double turn = Counter(name, p + "_turn_ms");
      const double active = Counter(name, p + "_active_p50_ms") / turn;
      Row(std::string("polling during a ") + what + ": filling p50 / turn time",
          Format("%.2f (%.0f / %.1f ms)", active, Counter(name, p + "_active_p50_ms"), turn),
          "<= 4", Verdict(active <= 4));
      const double idle = Counter(name, p + "_idle_max_ms") / (32 * turn);
      Row(std::string("polling during a ") + what + ": idle max / 32 turn times",
          Format("%.2f (%.0f / %.0f ms)", idle, Counter(name, p + "_idle_max_ms"), 32 * turn),
          "<= 2", Verdict(idle <= 2));
      Row(std::string("polling during a ") + what + ": in turns, filling max; idle max; its time",
          Format("%.0f; %.0f; %.0f ms", Counter(name, p + "_active_max_turns"),
                 Counter(name, p + "_idle_max_turns"), Counter(name, p + "_ms")),
          "", "");
    }
  }
  if (Find("Station/event_latency")) {
    const std::string name = "Station/event_latency";
    const double poll = Counter(name, "poll_line_ms");
    const double ratio = Counter(name, "p50_ms") / poll;
    Row("event latency: p50 / poll line time",
        Format("%.2f (%.1f / %.1f ms)", ratio, Counter(name, "p50_ms"), poll), "<= 1.2",
        Verdict(ratio <= 1.2));
    Row("event latency: p99; line floor p50 / p99",
        Format("%.1f ms; %.1f / %.1f ms", Counter(name, "p99_ms"), Counter(name, "line_p50_ms"),
               Counter(name, "line_p99_ms")),
        "", "");
    Row("event latency: after the reply, p50",
        Format("%.2f ms", Counter(name, "after_line_p50_ms")), "", "");
  }
  if (Find("Station/requests")) {
    const std::string name = "Station/requests";
    const double ratio = Counter(name, "ratio");
    Row("GET dispensers: station / bare server",
        Format("%.2f (%.0f / %.0f per s)", ratio, Counter(name, "station_per_s"),
               Counter(name, "bare_per_s")),
        ">= 0.7", Verdict(ratio >= 0.7));
  }
  if (Find("Station/commits")) {
    const std::string name = "Station/commits";
    const double ratio = Counter(name, "ratio");
    Row("journal commit (fill row) / bare insert",
        Format("%.2f (%.2f / %.2f ms)", ratio, Counter(name, "journal_ms"),
               Counter(name, "bare_ms")),
        "<= 1.2", Verdict(ratio <= 1.2));
    Row("fill completion (row + event) / bare insert",
        Format("%.2f (%.2f ms)", Counter(name, "complete_ratio"), Counter(name, "complete_ms")), "",
        "");
    Row("fdatasync of 4 KiB; insert without sync",
        Format("%.2f ms; %.3f ms", Counter(name, "fdatasync_ms"), Counter(name, "unsynced_ms")), "",
        "");
  }
}

}  // namespace quorlan::bench
