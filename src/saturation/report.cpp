// The report of a saturation run as a table for people.
#include "src/saturation/report.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kestrel {
namespace {

std::string milliseconds(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", seconds * 1000);
  return buffer;
}

// "name count, name count", or "" for none.
std::string applied_text(const IterationReport& it) {
  std::string out;
  for (const auto& [name, count] : it.applied) {
    if (!out.empty()) out += ", ";
    out += name + " " + std::to_string(count);
  }
  return out;
}

std::string banned_text(const IterationReport& it) {
  std::string out;
  for (const std::string& name : it.banned) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

}  // namespace

std::string stop_reason_name(const StopReason& reason) {
  switch (reason.kind) {
    case StopReason::Kind::Saturated: return "saturated";
    case StopReason::Kind::IterationLimit: return "iteration limit";
    case StopReason::Kind::NodeLimit: return "node limit";
    case StopReason::Kind::TimeLimit: return "time limit";
    case StopReason::Kind::Other: return "hook failed";
  }
  return {};
}

std::string format_report(const RunReport& report) {
  // Numbers are right-aligned, the two lists left-aligned and last.
  constexpr std::size_t kColumns = 8;
  constexpr std::size_t kNumeric = 6;  // the first six columns hold numbers
  using Row = std::array<std::string, kColumns>;
  std::vector<Row> rows = {
      {"iteration", "nodes", "classes", "search ms", "apply ms", "rebuild ms", "applied",
       "banned"}};
  for (std::size_t i = 0; i < report.iterations.size(); ++i) {
    const IterationReport& it = report.iterations[i];
    rows.push_back({std::to_string(i + 1), std::to_string(it.nodes), std::to_string(it.classes),
                    milliseconds(it.search_time), milliseconds(it.apply_time),
                    milliseconds(it.rebuild_time), applied_text(it), banned_text(it)});
  }
  std::array<std::size_t, kColumns> width{};
  for (const Row& row : rows) {
    for (std::size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], row[c].size());
  }

  std::string out;
  if (!report.skipped) {
    for (const Row& row : rows) {
      std::string line;
      for (std::size_t c = 0; c < kColumns; ++c) {
        if (c > 0) line += "  ";
        const std::string pad(width[c] - row[c].size(), ' ');
        line += c < kNumeric ? pad + row[c] : row[c] + pad;
      }
      line.erase(line.find_last_not_of(' ') + 1);
      out += line + '\n';
    }
  }

  out += "stopped: " + stop_reason_name(report.stop_reason);
  switch (report.stop_reason.kind) {
    case StopReason::Kind::IterationLimit:
    case StopReason::Kind::NodeLimit:
      out += " (" + std::to_string(report.stop_reason.count) + ")";
      break;
    case StopReason::Kind::TimeLimit:
      out += " (" + milliseconds(report.stop_reason.seconds) + " ms)";
      break;
    default:
      break;
  }
  if (report.skipped) {
    out += " before the first iteration: the input alone has " + std::to_string(report.nodes) +
           " distinct nodes, so it comes back unchanged\n";
    return out;
  }
  const std::size_t n = report.iterations.size();
  out += " after " + std::to_string(n) + (n == 1 ? " iteration" : " iterations") +
         "; final e-graph: " + std::to_string(report.nodes) + " nodes in " +
         std::to_string(report.classes) + " classes\n";
  return out;
}

}  // namespace kestrel
