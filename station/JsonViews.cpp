#include "station/JsonViews.h"

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
          {"state", view.state},
          {"code", view.code},
          {"nozzle", view.nozzle},
          {"volume", FromCents(view.volume)},
          {"amount", FromCents(view.amount)},
          {"grade", OrNull(view.grade, [](int grade) { return grade; })},
          {"price", MoneyOrNull(view.price)},
          {"limit", LimitJson(view.limit)},
          {"fill_id", OrNull(view.fillId, [](std::int64_t id) { return id; })},
          {"link", view.link},
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

}  // namespace quorlan::station
