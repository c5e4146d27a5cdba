#include "OperationCommands.h"

#include <fmt/format.h>

#include "Arguments.h"
#include "DriverCalls.h"
#include "Watch.h"
#include "WholeNumber.h"

namespace quorlan::cli {

namespace {

void AddChannel(CLI::App& command, OperationArgs& args) {
  WholeNumberIn(command.add_option("-c,--channel", args.channel, "Channel (line)"), 1,
                int{kLastChannel});
}

void AddAddress(CLI::App& command, OperationArgs& args) {
  AddChannel(command, args);
  WholeNumberIn(command.add_option("-d,--dispenser", args.dispenser, "Dispenser address"), 1,
                int{kLastDispenser});
}

void AddGrade(CLI::App& command, OperationArgs& args, const char* help) {
  WholeNumberIn(command.add_option("-g,--grade", args.grade, help), 1, int{kLastGrade});
}

void AddMode(CLI::App& command, OperationArgs& args) {
  WholeNumberIn(command.add_option(
                    "--mode", args.mode,
                    "Nozzle mode: 0 polls the dispenser only (no nozzle is read), 1 or more also "
                    "reads the lifted nozzle and releases finished fills"),
                0, 255);
}

void AddJson(CLI::App& command, OperationArgs& args) {
  command.add_flag("--json", args.json, "Print the result as one JSON object");
}

CLI::App* Command(CLI::App& app, const char* name, const char* help, Operation operation,
                  std::optional<Operation>& chosen) {
  auto* command = app.add_subcommand(name, help);
  command->callback([&chosen, operation] { chosen = operation; });
  return command;
}

// What a command sent, as a line or as one JSON object.
void Sent(const OperationArgs& args, const std::string& text, nlohmann::json json) {
  if (args.json) {
    json["channel"] = args.channel;
    json["dispenser"] = args.dispenser;
    PrintJson(json);
  } else {
    fmt::print("{}: {}\n", Where(args.channel, args.dispenser), text);
  }
}

void PrintReading(const OperationArgs& args, const DispenserReading& reading) {
  if (args.json) {
    PrintJson(ReadingJson(reading));
  } else {
    fmt::print("{}\n", ReadingText(reading));
  }
}

void Prices(Session& session, const OperationArgs& args) {
  const int c = args.channel, d = args.dispenser;
  if (args.prices) {
    if (args.grade || args.price) throw UsageError("price: give --prices, or -g with --price");
    const auto table = ParsePriceTable("--prices", *args.prices);
    for (int g = 1; g <= kTableGrades; ++g) BookPrice(session, c, d, g, table[std::size_t(g - 1)]);
  } else if (args.price) {
    const int grade = args.grade.value_or(1);
    if (grade > kTableGrades) {
      throw UsageError(fmt::format("price -g {}: the price table carries grades 1..{} only", grade,
                                   kTableGrades));
    }
    BookPrice(session, c, d, grade, ParsePrice("--price", *args.price));
  } else if (args.grade) {
    throw UsageError("price -g: give --price with it");
  }
  SendPrices(session, c, d);
  std::string text = "price table sent:";
  nlohmann::json prices = nlohmann::json::array();
  for (int g = 1; g <= kTableGrades; ++g) {
    const double price = *BookedPrice(session, c, d, g);
    text += fmt::format("{} grade {} {:.2f}", g == 1 ? "" : ",", g, price);
    prices.push_back(Decimal(price));
  }
  Sent(args, text, {{"sent", "price table"}, {"prices", prices}});
}

void Preset(Session& session, const OperationArgs& args) {
  const int c = args.channel, d = args.dispenser, g = args.grade.value_or(1);
  if (!args.volume && !args.amount) throw UsageError("preset: give --volume or --amount");
  const auto limit = args.volume ? quorlan::Limit::Volume(ParseLimit("--volume", *args.volume))
                                 : quorlan::Limit::Amount(ParseLimit("--amount", *args.amount));
  if (args.price) BookPrice(session, c, d, g, ParsePrice("--price", *args.price));
  AuthorizeFill(session, c, d, g, limit);
  const char* kind = limit.kind == quorlan::Limit::Kind::Volume ? "volume" : "amount";
  const double price = *BookedPrice(session, c, d, g);
  Sent(args,
       fmt::format("preset sent: {} limit {:.2f}, grade {} at {:.2f}", kind, limit.value, g, price),
       {{"sent", "preset"},
        {"grade", g},
        {"price", Decimal(price)},
        {"limit", {{kind, Decimal(limit.value)}}}});
}

void Authorize(Session& session, const OperationArgs& args) {
  AuthorizeFill(session, args.channel, args.dispenser, args.grade.value_or(1),
                quorlan::Limit::None());
  std::string text = "plain authorization sent, without grade or limit";
  if (args.grade) text += fmt::format(" (-g {} is not part of it)", *args.grade);
  Sent(args, text, {{"sent", "plain authorization"}});
}

}  // namespace

void AddOperationCommands(CLI::App& app, OperationArgs& args, std::optional<Operation>& chosen) {
  auto* status = Command(app, "status", "Poll a dispenser: state, nozzle, volume and amount",
                         Operation::Status, chosen);
  AddAddress(*status, args);
  AddMode(*status, args);
  AddJson(*status, args);

  auto* watch = Command(app, "watch", "Monitor dispensers until Ctrl-C", Operation::Watch, chosen);
  WholeNumberIn(
      watch
          ->add_option("-c,--channel", args.channels, "Channels (repeatable, or 1,2); default: all")
          ->delimiter(','),
      1, int{kLastChannel});
  WholeNumberIn(
      watch->add_option("-d,--dispenser", args.dispensers, "Dispensers (repeatable, or 1,2,3)")
          ->delimiter(','),
      1, int{kLastDispenser});
  AddMode(*watch, args);
  watch->add_flag("--json", args.json, "One JSON object per line for each change, with its time");

  auto* price =
      Command(app, "price", "Send the price table of grades 1..4", Operation::Price, chosen);
  AddAddress(*price, args);
  price->add_option("--prices", args.prices, "The table: prices of grades 1..4, as 52.90,54.10,...")
      ->type_name("P1,P2,P3,P4");
  AddGrade(*price, args, "Grade of --price, 1..4 (the others come from the price book)");
  price->add_option("--price", args.price, "Price of the grade, 0.01..99.99");

  auto* preset = Command(app, "preset", "Send a preset authorization: a volume or money limit",
                         Operation::Preset, chosen);
  AddAddress(*preset, args);
  AddGrade(*preset, args, "Grade, 1..8");
  auto* volume = preset->add_option("--volume", args.volume, "Volume limit, 0.01..9999.99");
  auto* amount = preset->add_option("--amount", args.amount, "Money limit, 0.01..9999.99");
  volume->excludes(amount);
  preset->add_option("--price", args.price,
                     "Price of the grade, carried by the preset (needed unless in the price book)");
  AddJson(*preset, args);

  auto* authorize = Command(app, "authorize", "Send the plain authorization: no grade, no limit",
                            Operation::Authorize, chosen);
  AddAddress(*authorize, args);
  AddGrade(*authorize, args, "Accepted, but the plain frame carries no grade");
  AddJson(*authorize, args);
  AddJson(*price, args);

  auto* stop = Command(app, "stop", "Stop a dispenser", Operation::Stop, chosen);
  AddAddress(*stop, args);
  AddJson(*stop, args);

  auto* transaction = Command(app, "transaction", "Poll, then read the fill's volume and amount",
                              Operation::Transaction, chosen);
  AddAddress(*transaction, args);
  AddMode(*transaction, args);
  AddJson(*transaction, args);

  auto* totals =
      Command(app, "totals", "Read a nozzle's volume and amount totals", Operation::Totals, chosen);
  AddAddress(*totals, args);
  WholeNumberIn(totals->add_option("-n,--nozzle", args.nozzle, "Nozzle"), 1, kLastNozzle);
  AddJson(*totals, args);
}

void RunOperation(Session& session, Operation operation, const OperationArgs& args) {
  const int c = args.channel, d = args.dispenser;
  if (operation != Operation::Watch) session.RequireChannel(c);
  switch (operation) {
    case Operation::Status:
      PrintReading(args, PollDispenser(session, c, d, args.mode));
      break;
    case Operation::Watch:
      RunWatch(session, {.channels = args.channels,
                         .dispensers = args.dispensers,
                         .mode = args.mode,
                         .json = args.json});
      break;
    case Operation::Price:
      Prices(session, args);
      break;
    case Operation::Preset:
      Preset(session, args);
      break;
    case Operation::Authorize:
      Authorize(session, args);
      break;
    case Operation::Stop:
      StopDispenser(session, c, d);
      Sent(args, "stop sent", {{"sent", "stop"}});
      break;
    case Operation::Transaction:
      PrintReading(args, ReadTransaction(session, c, d, args.mode));
      break;
    case Operation::Totals: {
      const auto totals = ReadTotals(session, c, d, args.nozzle);
      if (args.json) {
        PrintJson(TotalsJson(totals));
      } else {
        fmt::print("{}\n", TotalsText(totals));
      }
      break;
    }
  }
  std::fflush(stdout);
}

}  // namespace quorlan::cli
