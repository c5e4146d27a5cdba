// SPDX-License-Identifier: Apache-2.0
#pragma once
// quorlan scan: asks every address of a line for its status, one after the
// other, and says which answer and in what state; when none answers well,
// tells the usual set-up faults apart by the bytes that came back.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <span>
#include <string>

#include "GlobalOptions.h"

namespace quorlan::cli {

struct ScanArgs {
  std::string port;
  int first = 1;
  int last = 32;
  int timeoutMs = 500;
  bool json = false;
};

CLI::App* AddScanCommand(CLI::App& app, ScanArgs& args);
int RunScan(const GlobalOptions& options, const ScanArgs& args);

// What came back for one status request.
enum class ScanFinding : std::uint8_t {
  Answers,           // a whole status reply, every complement good
  Nothing,           // not a byte
  Echo,              // our own request came back (maybe a reply after it)
  BrokenComplement,  // bytes that are no pairs: speed or parity wrong
  Short,             // good pairs, too few
};

struct ScanResult {
  ScanFinding finding = ScanFinding::Nothing;
  std::uint8_t statusByte = 0;  // Answers
};

// Judges the bytes that came back for `request`.
ScanResult JudgeScanReply(std::span<const std::uint8_t> request,
                          std::span<const std::uint8_t> received);

}  // namespace quorlan::cli
