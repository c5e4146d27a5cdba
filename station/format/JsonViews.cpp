#include "station/format/JsonViews.h"

#include "station/format/EventData.h"
#include "station/model/Charge.h"
#include "station/model/Words.h"

namespace quorlan::station {

namespace {

template <typename T, typename F>
nlohmann::json OrNull(const std::optional<T>& value, F convert) {
  return value ? nlohmann::json(convert(*value)) : nlohmann::json(nullptr);
}

nlohmann::json MoneyOrNull(const std::optional<Cents>& value) {
  return OrNull(value, FromCents);
}

nlohmann::json TextOrNull(const std::optional<std::string>& value) {
  return OrNull(value, [](const std::string& text) { return text; });
}

nlohmann::json StampOrNull(const std::optional<Instant>& value) {
  return OrNull(value, FormatUtc);
}

// 0 is the driver's "no nozzle".
nlohmann::json NozzleOrNull(int nozzle) {
  return nozzle > 0 ? nlohmann::json(nozzle) : nlohmann::json(nullptr);
}

nlohmann::json FiguresJson(const Totals& totals) {
  return {{"volume", FromCents(totals.volume)}, {"amount", FromCents(totals.amount)}};
}

nlohmann::json FiguresOrNull(const std::optional<Totals>& totals) {
  return OrNull(totals, FiguresJson);
}

nlohmann::json SalesJson(const SalesLine& sales) {
  return {{"count", sales.count},
          {"volume", FromCents(sales.sold.volume)},
          {"amount", FromCents(sales.sold.amount)}};
}

nlohmann::json NozzleIdJson(const NozzleId& nozzle) {
  return {{"channel", nozzle.channel}, {"dispenser", nozzle.dispenser}, {"nozzle", nozzle.nozzle}};
}

}  // namespace

nlohmann::json LimitJson(const FillLimit& limit) {
  if (limit.kind == FillLimit::Kind::None) return nlohmann::json::object();
  return {{std::string(KindName(limit.kind)), FromCents(limit.value)}};
}

namespace {

// "calling": idle with a nozzle lifted, a customer waiting to be authorized.
std::string_view StateWord(const DispenserView& view) {
  if (view.state == DispenserState::Idle && view.nozzle > 0) return "calling";
  return StateName(view.state);
}

std::string_view FillStatusWord(const FillRecord& fill) {
  switch (fill.status) {
    case FillStatus::Pending:
    case FillStatus::Open:
      return fill.filling ? "filling" : "authorized";
    case FillStatus::Done:
      return "completed";
    case FillStatus::Cancelled:
      return "cancelled";
  }
  return "authorized";
}

nlohmann::json GradeOrNull(const std::optional<int>& grade) {
  return OrNull(grade, [](int value) { return value; });
}

}  // namespace

nlohmann::json DispenserJson(const DispenserView& view) {
  return {{"channel", view.channel},
          {"dispenser", view.dispenser},
          {"state", StateWord(view)},
          {"code", view.code},
          {"nozzle", NozzleOrNull(view.nozzle)},
          {"volume", FromCents(view.volume)},
          {"amount", FromCents(view.amount)},
          {"grade", view.fill ? OrNull(view.fill->grade, [](int grade) { return grade; })
                              : nlohmann::json(nullptr)},
          {"price", view.fill ? MoneyOrNull(view.fill->price) : nlohmann::json(nullptr)},
          {"limit", LimitJson(view.fill ? view.fill->limit : FillLimit{})},
          {"fill_id", view.fill ? nlohmann::json(view.fill->id) : nlohmann::json(nullptr)},
          {"requested_grade",
           view.fill ? GradeOrNull(view.fill->requestedGrade) : nlohmann::json(nullptr)},
          {"link", LinkName(view.link)},
          {"unpaid", view.unpaid},
          {"updated_at", view.updatedAt}};
}

nlohmann::json FillJson(const FillRecord& fill, Instant now) {
  const Settlement settlement = Current(fill.settlement, now);
  return {
      {"id", fill.id},
      {"channel", fill.channel},
      {"dispenser", fill.dispenser},
      {"nozzle", NozzleOrNull(fill.nozzle)},
      {"grade", OrNull(fill.grade, [](int grade) { return grade; })},
      {"price", MoneyOrNull(fill.price)},
      {"volume", FromCents(fill.volume)},
      {"amount", FromCents(fill.amount)},
      {"limit", LimitJson(fill.limit)},
      {"authorized_by", TextOrNull(fill.authorizedBy)},
      {"authorized_at", TextOrNull(fill.authorizedAt)},
      {"finished_at", TextOrNull(fill.finishedAt)},
      {"recovered", fill.recovered},
      {"status", FillStatusWord(fill)},
      {"requested_grade", GradeOrNull(fill.requestedGrade)},
      {"mismatch", fill.mismatch},
      {"settled_from", kSettledWords.Word(fill.settledFrom)},
      {"refund", fill.limit.kind == FillLimit::Kind::Amount &&
                         (fill.status == FillStatus::Done || fill.status == FillStatus::Cancelled)
                     ? nlohmann::json(FromCents(Refund(fill.limit, fill.amount)))
                     : nlohmann::json(nullptr)},
      {"paid", settlement.paid},
      {"paid_by", TextOrNull(settlement.paidBy)},
      {"paid_at", StampOrNull(settlement.paidAt)},
      {"reference", TextOrNull(settlement.reference)},
      {"locked_by", TextOrNull(settlement.lockedBy)},
      {"locked_until", StampOrNull(settlement.lockedUntil)}};
}

nlohmann::json ShiftReportJson(const ShiftReport& report) {
  nlohmann::json grades = nlohmann::json::array();
  for (const GradeSales& grade : report.byGrade) {
    nlohmann::json line = SalesJson(grade.sales);
    line["grade"] = OrNull(grade.grade, [](int number) { return number; });
    line["name"] = TextOrNull(grade.name);
    grades.push_back(line);
  }
  nlohmann::json dispensers = nlohmann::json::array();
  for (const DispenserSales& dispenser : report.byDispenser) {
    nlohmann::json line = SalesJson(dispenser.sales);
    line["channel"] = dispenser.channel;
    line["dispenser"] = dispenser.dispenser;
    dispensers.push_back(line);
  }
  nlohmann::json nozzles = nlohmann::json::array();
  for (const NozzleBalance& balance : report.nozzles) {
    nlohmann::json line = NozzleIdJson(balance.nozzle);
    line["grade"] = balance.grade;
    line["totals_open"] = FiguresOrNull(balance.open);
    line["totals_close"] = FiguresOrNull(balance.close);
    line["journal"] = FiguresJson(balance.journal);
    line["difference"] = FiguresOrNull(balance.difference);
    nozzles.push_back(line);
  }
  nlohmann::json unanswered = nlohmann::json::array();
  for (const NozzleId& nozzle : report.unanswered) unanswered.push_back(NozzleIdJson(nozzle));
  return {{"id", report.id},
          {"opened_at", report.openedAt},
          {"closed_at", report.closedAt},
          {"closed_by", report.closedBy},
          {"currency",
           report.currency.empty() ? nlohmann::json(nullptr) : nlohmann::json(report.currency)},
          {"fills", SalesJson(report.fills)},
          {"by_grade", grades},
          {"by_dispenser", dispensers},
          {"unpaid", {{"count", report.unpaidCount}, {"amount", FromCents(report.unpaidAmount)}}},
          {"cancelled", report.cancelled},
          {"nozzles", nozzles},
          {"unanswered", unanswered}};
}

nlohmann::json SessionJson(const SessionView& session) {
  const Role role = session.role;
  const char* words = role == Role::Admin ? "admin" : role == Role::Operate ? "operate" : "view";
  nlohmann::json grades = nlohmann::json::array();
  for (const GradeConfig& grade : session.grades) {
    grades.push_back({{"number", grade.number}, {"name", grade.name}});
  }
  return {{"name", session.name},
          {"role", words},
          {"currency",
           session.currency.empty() ? nlohmann::json(nullptr) : nlohmann::json(session.currency)},
          {"timezone", session.timezone},
          {"grades", grades}};
}

nlohmann::json PriceJson(const PriceEntry& entry) {
  return {{"channel", entry.channel},
          {"dispenser", entry.dispenser},
          {"grade", entry.grade},
          {"price", FromCents(entry.price)}};
}

namespace {

std::string DownloadWords(const DownloadResult& result) {
  switch (result.download) {
    case Download::Downloaded:
      return "downloaded";
    case Download::Deferred:
      return "deferred";
    case Download::Incomplete:
      return "not downloaded: the book lacks grades 1..4";
    case Download::Refused:
      return "not downloaded: " + result.detail;
    case Download::LinkFailed:
      return std::string(LinkName(result.link));
  }
  return result.detail;
}

}  // namespace

nlohmann::json PriceResultJson(const PriceResult& result) {
  return {{"channel", result.channel},
          {"dispenser", result.dispenser},
          {"result", DownloadWords(result.result)}};
}

nlohmann::json StopResultJson(const StopResult& result) {
  const std::string words = result.stopped ? "stopped" : result.detail;
  if (!result.dispenser) return {{"channel", result.channel}, {"result", words}};
  return {{"channel", result.channel}, {"dispenser", *result.dispenser}, {"result", words}};
}

nlohmann::json PayloadJson(const Payload& payload) {
  struct Visitor {
    nlohmann::json operator()(std::monostate) const { return nullptr; }
    nlohmann::json operator()(const DispenserView& view) const { return DispenserJson(view); }
    nlohmann::json operator()(const TotalsReading& totals) const {
      return {{"volume_total", FromCents(totals.volume)},
              {"amount_total", FromCents(totals.amount)}};
    }
    nlohmann::json operator()(const std::vector<StopResult>& results) const {
      nlohmann::json list = nlohmann::json::array();
      for (const auto& result : results) list.push_back(StopResultJson(result));
      return list;
    }
    nlohmann::json operator()(const std::vector<PriceResult>& results) const {
      nlohmann::json list = nlohmann::json::array();
      for (const auto& result : results) list.push_back(PriceResultJson(result));
      return list;
    }
  };
  return std::visit(Visitor{}, payload);
}

std::string DispenserEventData(const DispenserView& view) {
  return DispenserJson(view).dump();
}

std::string FillEventData(const FillRecord& fill) {
  return FillJson(fill).dump();
}

std::string PricesEventData(const std::vector<PriceEntry>& entries) {
  nlohmann::json data = nlohmann::json::array();
  for (const auto& entry : entries) data.push_back(PriceJson(entry));
  return data.dump();
}

std::string LineEventData(int channel, bool up, const std::string& reason) {
  return nlohmann::json{{"channel", channel}, {"up", up}, {"reason", reason}}.dump();
}

std::string AlarmEventData(const std::string& kind, int channel, int dispenser,
                           std::optional<std::int64_t> fillId, const std::string& detail) {
  const auto orNull = [](std::int64_t value) {
    return value != 0 ? nlohmann::json(value) : nlohmann::json(nullptr);
  };
  return nlohmann::json{{"kind", kind},
                        {"channel", orNull(channel)},
                        {"dispenser", orNull(dispenser)},
                        {"fill_id", orNull(fillId.value_or(0))},
                        {"detail", detail}}
      .dump();
}

}  // namespace quorlan::station
