#pragma once
// The dashboard's files as the build embedded them (see Embed.cmake).

#include <span>
#include <string_view>

#include "web/Assets.h"

namespace quorlan::station::web {

struct EmbeddedFile {
  std::string_view path;  // as requested, e.g. "/js/main.js"
  Asset asset;
};

extern const std::span<const EmbeddedFile> kEmbeddedFiles;

}  // namespace quorlan::station::web
