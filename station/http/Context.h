// SPDX-License-Identifier: Apache-2.0
#pragma once
// What every connection of one server shares.

#include <algorithm>
#include <atomic>
#include <boost/asio/thread_pool.hpp>
#include <cstdint>
#include <memory>
#include <string_view>

#include "station/http/Admission.h"
#include "station/http/Server.h"
#include "station/http/StreamRegistry.h"

namespace quorlan::http {

struct Context {
  Context(ServerOptions options_in, Router router_in, RequestObserver observer_in)
      : options(std::move(options_in)),
        router(std::move(router_in)),
        observer(std::move(observer_in)),
        streams(std::make_shared<StreamRegistry>(options.max_streams)),
        admission(options.max_connections, options.max_connections_per_client,
                  options.max_refusals) {}

  bool AllowedOrigin(std::string_view origin) const {
    return !origin.empty() && std::find(options.cors_origins.begin(), options.cors_origins.end(),
                                        origin) != options.cors_origins.end();
  }
  void Count(std::string_view route, unsigned status) {
    ++requests;
    if (observer) observer(route, status);
  }

  const ServerOptions options;
  const Router router;
  const RequestObserver observer;
  const std::shared_ptr<StreamRegistry> streams;
  Admission admission;
  std::atomic<std::uint64_t> requests = 0;
  boost::asio::thread_pool* routes = nullptr;
  boost::asio::thread_pool* urgent = nullptr;  // for the requests options.urgent picks
};

}  // namespace quorlan::http
