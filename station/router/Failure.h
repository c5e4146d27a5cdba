// SPDX-License-Identifier: Apache-2.0
#pragma once
// What a failure that no route turned into an answer itself means to the
// client: a body the API cannot take is 400, a database that cannot serve is
// 503, anything else 500. The detail never quotes a library.

#include <exception>
#include <string>

namespace quorlan::station {

int StatusFor(const std::exception& error);
// An unexpected failure's own message goes to standard error, not to the
// client.
std::string DetailFor(const std::exception& error);

}  // namespace quorlan::station
