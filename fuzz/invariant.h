// How a fuzz target reports a broken invariant: a line on standard error
// naming it, then abort, which libFuzzer records as a crash with its input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace kestrel {

inline void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "broken invariant: %s\n", what);
  std::abort();
}

}  // namespace kestrel
