#include "web/Assets.h"

namespace quorlan::station::web {

namespace {
constexpr Asset kPage{"text/html; charset=utf-8",
                      "<!doctype html><title>Quorlan station</title><p>Dashboard to come.</p>"};
}  // namespace

const Asset* FindAsset(std::string_view path) {
  return path == "/" || path == "/index.html" ? &kPage : nullptr;
}

}  // namespace quorlan::station::web
