#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build/fuzz and runs
# them side by side, each for the given number of seconds (default 60):
#
#   qasm_fuzz     bytes as a QASM program through read, optimise, measure, write
#   pattern_fuzz  bytes as pattern text through the readers, compaction,
#                 the pattern compiler and the matching machine
#   per_qubit_fuzz  bytes through the statement reader and the per-qubit pass,
#                 seeded with the QASMBench programs of ../shared/data (or of
#                 $KESTREL_QASMBENCH) and examples/, copied at run time
#
# Each keeps the inputs that reach new code in build/fuzz/corpus/<target>,
# so a later run goes on from there. A crash, a broken invariant or an input
# that runs longer than a minute fails the script; the input is saved under
# build/fuzz/artifacts/<target>/ and the target's log is printed. Needs cmake
# (3.26 or newer) and ninja on PATH, as scripts/test.sh sets them up.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
CXX=clang++-16 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_FUZZ=ON >/dev/null
cmake --build build/fuzz

# run <target> <seed directory> [options]: runs fuzz/<target>_fuzz.cpp's program. The
# memory limit is above libFuzzer's 2 GB: under AddressSanitizer the resident
# memory of a long run creeps up (its allocator's quarantine and caches; the
# same inputs without the sanitizer stay flat at 36 MB).
run() {
  local target=$1 seeds=$2
  shift 2
  mkdir -p "build/fuzz/corpus/$target" "build/fuzz/artifacts/$target"
  "build/fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=8192 \
    -dict="fuzz/$target.dict" -artifact_prefix="build/fuzz/artifacts/$target/" \
    -print_final_stats=1 "$@" "build/fuzz/corpus/$target" "$seeds" >"build/fuzz/$target.log" 2>&1
}

seeds=build/fuzz/seeds/per_qubit
rm -rf "$seeds" && mkdir -p "$seeds"
cp examples/*.qasm examples/*/*.qasm "$seeds"/
for dir in "${KESTREL_QASMBENCH:-}" ../shared/data/qasmbench ../../shared/data/qasmbench; do
  if [[ -n "$dir" && -d "$dir" ]]; then
    cp "$dir"/*.qasm "$seeds"/
    break
  fi
done

run qasm examples &
qasm=$!
run pattern fuzz/seeds/pattern &
pattern=$!
# The largest seeds are long programs; their first 8 KiB are seeds enough.
run per_qubit "$seeds" -max_len=8192 &
per_qubit=$!

status=0
for target in qasm pattern per_qubit; do
  if wait "${!target}"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build/fuzz/$target.log")
    echo "${target}_fuzz: ${runs:-?} inputs in ${seconds} s, nothing found"
  else
    status=1
    echo "${target}_fuzz FAILED; the input is in build/fuzz/artifacts/$target/" >&2
    tail -n 80 "build/fuzz/$target.log" >&2
  fi
done
exit "$status"
