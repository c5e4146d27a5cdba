#include "OperationCommands.h"

#include <fmt/format.h>

#include "DriverCalls.h"
#include "LiveTable.h"
#include "Signals.h"

namespace quorlan::cli {

namespace {

constexpr std::chrono::milliseconds kWatchInterval{250};

void AddChannel(CLI::App& command, OperationArgs& args) {
  command.add_option("-c,--channel", args.channel, "Channel (line), 1..32")
      ->check(CLI::Range(1, 32));
}

void AddAddress(CLI::App& command, OperationArgs& args) {
  AddChannel(command, args);
  command.add_option("-d,--dispenser", args.dispenser, "Dispenser address, 1..32")
      ->check(CLI::Range(1, 32));
}

void AddGrade(CLI::App& command, OperationArgs& args) {
  command.add_option("-g,--grade", args.grade, "Grade, 1..8")->check(CLI::Range(1, 8));
}

void AddMode(CLI::App& command, OperationArgs& args) {
  command
      .add_option("--mode", args.mode,
                  "Nozzle mode: 0 polls the dispenser only, 1 or more also reads the lifted "
                  "nozzle and releases finished fills")
      ->check(CLI::Range(0, 255));
}

void AddJson(CLI::App& command, OperationArgs& args) {
  command.add_flag("--json", args.json, "Print one JSON object");
}

CLI::App* Command(CLI::App& app, const char* name, const char* help, Operation operation,
                  std::optional<Operation>& chosen) {
  auto* command = app.add_subcommand(name, help);
  command->callback([&chosen, operation] { chosen = operation; });
  return command;
}

// The price field of the dispenser holds 0.00..99.99 and the limit fields
// 0.00..9999.99; the driver would drop higher digits without a word.
constexpr double kMaxPrice = 99.99;
constexpr double kMaxLimit = 9999.99;

void Print(const OperationArgs& args, const DispenserReading& reading) {
  fmt::print("{}\n", args.json ? ReadingJson(reading) : ReadingText(reading));
}

void Watch(Session& session, const OperationArgs& args) {
  for (int d : args.dispensers) {
    if (d < 1 || d > 32) throw UsageError(fmt::format("--dispenser {}: outside 1..32", d));
  }
  StopSignalScope signals;
  LiveTable table(stdout, IsTerminal(stdout));
  while (!StopRequested()) {
    std::vector<TableRow> rows;
    for (int d : args.dispensers) {
      rows.push_back({PollDispenser(session, args.channel, d, args.mode), std::nullopt});
    }
    table.Show(rows);
    SleepUnlessStopped(kWatchInterval);
  }
}

void Preset(Session& session, const OperationArgs& args) {
  const int c = args.channel, d = args.dispenser, g = args.grade;
  if (!args.volume && !args.amount) throw UsageError("preset: give --volume or --amount");
  if (args.price) {
    SendPrice(session, c, d, g, *args.price);
  } else if (!session.PriceKnown(c, d, g)) {
    throw UsageError(
        fmt::format("preset: give --price for grade {}, the preset authorization carries it", g));
  }
  PresetAndStart(session, c, d, g, args.volume, args.amount);
  fmt::print("channel {}, dispenser {}: {} preset {:.2f} on grade {}, authorized\n", c, d,
             args.volume ? "volume" : "amount", args.volume ? *args.volume : *args.amount, g);
}

}  // namespace

void AddOperationCommands(CLI::App& app, OperationArgs& args, std::optional<Operation>& chosen) {
  auto* status = Command(app, "status", "Poll a dispenser: state, volume and amount",
                         Operation::Status, chosen);
  AddAddress(*status, args);
  AddMode(*status, args);
  AddJson(*status, args);

  auto* watch =
      Command(app, "watch", "Live table of dispensers until Ctrl-C", Operation::Watch, chosen);
  AddChannel(*watch, args);
  watch->add_option("-d,--dispenser", args.dispensers, "Dispensers to show (repeatable, or 1,2,3)")
      ->delimiter(',')
      ->check(CLI::Range(1, 32));
  AddMode(*watch, args);

  auto* price = Command(app, "price", "Set the price of a grade and send the price table",
                        Operation::Price, chosen);
  AddAddress(*price, args);
  AddGrade(*price, args);
  price->add_option("--price", args.price, "Price per litre, 0.00..99.99")
      ->required()
      ->check(CLI::Range(0.0, kMaxPrice));

  auto* preset =
      Command(app, "preset", "Store a volume or money limit and send the preset authorization",
              Operation::Preset, chosen);
  AddAddress(*preset, args);
  AddGrade(*preset, args);
  auto* volume = preset->add_option("--volume", args.volume, "Volume limit, 0.00..9999.99")
                     ->check(CLI::Range(0.0, kMaxLimit));
  auto* amount = preset->add_option("--amount", args.amount, "Money limit, 0.00..9999.99")
                     ->check(CLI::Range(0.0, kMaxLimit));
  volume->excludes(amount);
  preset
      ->add_option("--price", args.price,
                   "Price of the grade, sent first (needed unless set earlier in the shell)")
      ->check(CLI::Range(0.0, kMaxPrice));

  auto* authorize =
      Command(app, "authorize", "Authorize a fill without a preset", Operation::Authorize, chosen);
  AddAddress(*authorize, args);
  AddGrade(*authorize, args);

  auto* stop = Command(app, "stop", "Stop a dispenser", Operation::Stop, chosen);
  AddAddress(*stop, args);

  auto* transaction = Command(app, "transaction", "Poll, then read the fill's volume and amount",
                              Operation::Transaction, chosen);
  AddAddress(*transaction, args);
  AddMode(*transaction, args);
  AddJson(*transaction, args);

  auto* totals =
      Command(app, "totals", "Read a nozzle's volume and amount totals", Operation::Totals, chosen);
  AddAddress(*totals, args);
  totals->add_option("-n,--nozzle", args.nozzle, "Nozzle, 1..8")->check(CLI::Range(1, 8));
  AddJson(*totals, args);
}

void RunOperation(Session& session, Operation operation, const OperationArgs& args) {
  const int c = args.channel, d = args.dispenser;
  session.RequireChannel(c);
  switch (operation) {
    case Operation::Status:
      Print(args, PollDispenser(session, c, d, args.mode));
      break;
    case Operation::Watch:
      Watch(session, args);
      break;
    case Operation::Price:
      SendPrice(session, c, d, args.grade, *args.price);
      fmt::print("channel {}, dispenser {}: grade {} price {:.2f} sent\n", c, d, args.grade,
                 *args.price);
      break;
    case Operation::Preset:
      Preset(session, args);
      break;
    case Operation::Authorize:
      AuthorizePlain(session, c, d, args.grade);
      fmt::print("channel {}, dispenser {}: authorized on grade {}\n", c, d, args.grade);
      break;
    case Operation::Stop:
      StopDispenser(session, c, d);
      fmt::print("channel {}, dispenser {}: stopped\n", c, d);
      break;
    case Operation::Transaction:
      Print(args, ReadTransaction(session, c, d, args.mode));
      break;
    case Operation::Totals: {
      const auto totals = ReadTotals(session, c, d, args.nozzle);
      fmt::print("{}\n", args.json ? TotalsJson(totals) : TotalsText(totals));
      break;
    }
  }
  std::fflush(stdout);
}

}  // namespace quorlan::cli
