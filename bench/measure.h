// Clock and peak-memory readings shared by the standalone timing programs.
#pragma once

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

namespace kestrel::bench {

using Clock = std::chrono::steady_clock;

inline double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The process's peak resident memory so far (VmHWM), in KiB; 0 if unknown.
inline long peak_rss_kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

}  // namespace kestrel::bench
