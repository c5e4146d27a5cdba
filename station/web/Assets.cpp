#include "web/Assets.h"

#include "web/EmbeddedFiles.h"

namespace quorlan::station::web {

const Asset* FindAsset(std::string_view path) {
  if (path == "/") path = "/index.html";
  for (const EmbeddedFile& file : kEmbeddedFiles) {
    if (file.path == path) return &file.asset;
  }
  return nullptr;
}

}  // namespace quorlan::station::web
