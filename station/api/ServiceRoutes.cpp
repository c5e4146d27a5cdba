// SPDX-License-Identifier: Apache-2.0
// The service's own routes: health, metrics, the OpenAPI document, and the
// dashboard's files.

#include <chrono>
#include <string>
#include <vector>

#include "station/api/OpenApi.h"
#include "station/api/Routes.h"
#include "station/metrics/Metrics.h"
#include "station/web/Assets.h"

namespace quorlan::station {

namespace {

using nlohmann::json;

constexpr std::string_view kMetricsPath = "/metrics";
constexpr std::string_view kMetricsText = "text/plain; version=0.0.4; charset=utf-8";

void Health(Station& station, http::Answer& answer) {
  const auto now = std::chrono::steady_clock::now();
  const auto patience = station.Config().unansweredAfter;
  json lines = json::array();
  json dispensers = json::array();
  bool allUp = true;
  for (LineWorker* line : station.Lines()) {
    allUp = allUp && line->Up();
    lines.push_back({{"channel", line->Channel()},
                     {"port", line->Port()},
                     {"up", line->Up()},
                     {"queued", line->Queued()}});
    for (const DispenserView& view : line->Views()) {
      // A dispenser that has stopped answering is as unhealthy as a line
      // that is down; a failed exchange now and then is not.
      allUp = allUp && (view.link == Link::Ok || now - view.answeredAt < patience);
      dispensers.push_back({{"channel", view.channel},
                            {"dispenser", view.dispenser},
                            {"link", std::string(LinkName(view.link))}});
    }
  }
  const std::string journal = station.Journal().database.Problem();
  const bool healthy = allUp && journal.empty();
  json body{{"status", healthy ? "ok" : "degraded"}, {"lines", lines}, {"dispensers", dispensers}};
  // Money that cannot be journaled: the service must not look healthy.
  if (!journal.empty()) body["database"] = journal;
  WriteJson(answer, body, healthy ? 200 : 503);
}

// Only what is compiled in; no path reaches the file system.
void Page(const http::Request& request, http::Answer& answer) {
  answer.SetRoute("page");
  if (request.method != "GET" && request.method != "HEAD") return answer.NotAllowed({"GET"});
  const web::Asset* asset = web::FindAsset(request.path);
  if (!asset) throw Problem{404, "no such resource: " + request.path};
  // Scripts and styles come from the service's own files only, and no
  // other site may frame the page.
  answer.Respond(200,
                 {{"Content-Type", std::string(asset->contentType)},
                  {"Content-Security-Policy",
                   "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' "
                   "data:; connect-src 'self'; object-src 'none'; base-uri 'none'; "
                   "form-action 'self'; frame-ancestors 'none'"}},
                 std::string(asset->body));
}

}  // namespace

void AddServiceRoutes(Router& router, Station& station) {
  router.Add({"GET", "/api/v1/openapi.json", "/api/v1/openapi.json", Role::View, false,
              [](const Call&, http::Answer& answer) {
                WriteBody(answer, 200, kJson, std::string(OpenApiDocument()));
              }});
  router.Add({"GET", "/api/v1/health", "/api/v1/health", std::nullopt, false,
              [&station](const Call&, http::Answer& answer) { Health(station, answer); }});
  router.Add({"GET", std::string(kMetricsPath), std::string(kMetricsPath), Role::View, false,
              [&station](const Call&, http::Answer& answer) {
                std::vector<LineUp> lines;
                for (LineWorker* line : station.Lines()) {
                  LineUp& up = lines.emplace_back(LineUp{line->Channel(), line->Up(), {}});
                  for (const DispenserView& view : line->Views()) {
                    up.dispensers.push_back(view.dispenser);
                  }
                }
                WriteBody(answer, 200, kMetricsText, MetricsText(ServiceMetrics(), lines));
              }});
  router.SetPage(Page);
}

}  // namespace quorlan::station
