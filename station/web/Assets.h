#pragma once
// The dashboard's files, compiled into the binary: no request ever reaches
// the file system.

#include <string_view>

namespace quorlan::station::web {

struct Asset {
  std::string_view contentType;
  std::string_view body;
};

// The embedded file served at `path` ("/" is the page itself); nullptr when
// there is none.
const Asset* FindAsset(std::string_view path);

}  // namespace quorlan::station::web
