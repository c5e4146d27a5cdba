// SPDX-License-Identifier: Apache-2.0
#pragma once
// The OpenAPI document of the station's routes, served at
// /api/v1/openapi.json; a test checks that it and the routes list the same.

#include <string_view>

namespace quorlan::station {

std::string_view OpenApiDocument();

}  // namespace quorlan::station
