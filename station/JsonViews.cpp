#include "station/JsonViews.h"

#include "station/EventData.h"

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

}  // namespace

nlohmann::json LimitJson(const FillLimit& limit) {
  if (limit.kind == FillLimit::Kind::None) return nlohmann::json::object();
  return {{std::string(KindName(limit.kind)), FromCents(limit.value)}};
}

nlohmann::json DispenserJson(const DispenserView& view) {
  return {{"channel", view.channel},
          {"dispenser", view.dispenser},
          {"state", StateName(view.state)},
          {"code", view.code},
          {"nozzle", view.nozzle},
          {"volume", FromCents(view.volume)},
          {"amount", FromCents(view.amount)},
          {"grade", view.fill ? OrNull(view.fill->grade, [](int grade) { return grade; })
                              : nlohmann::json(nullptr)},
          {"price", view.fill ? MoneyOrNull(view.fill->price) : nlohmann::json(nullptr)},
          {"limit", LimitJson(view.fill ? view.fill->limit : FillLimit{})},
          {"fill_id", view.fill ? nlohmann::json(view.fill->id) : nlohmann::json(nullptr)},
          {"link", LinkName(view.link)},
          {"updated_at", view.updatedAt}};
}

nlohmann::json FillJson(const FillRecord& fill) {
  return {{"id", fill.id},
          {"channel", fill.channel},
          {"dispenser", fill.dispenser},
          {"nozzle", fill.nozzle},
          {"grade", OrNull(fill.grade, [](int grade) { return grade; })},
          {"price", MoneyOrNull(fill.price)},
          {"volume", FromCents(fill.volume)},
          {"amount", FromCents(fill.amount)},
          {"limit", LimitJson(fill.limit)},
          {"authorized_by", TextOrNull(fill.authorizedBy)},
          {"authorized_at", TextOrNull(fill.authorizedAt)},
          {"finished_at", TextOrNull(fill.finishedAt)},
          {"recovered", fill.recovered}};
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

}  // namespace quorlan::station
