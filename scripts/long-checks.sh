#!/usr/bin/env bash
# The long reliability checks, beyond what scripts/test.sh runs:
#
# 1. the fuzz targets for the given number of seconds in all (default 3600),
#    shared out evenly among them and run two at a time;
# 2. the Python tests against the module built with AddressSanitizer and
#    UndefinedBehaviorSanitizer (in build/asan-venv), all but the two that
#    measure memory, which the sanitizer's own bookkeeping would fail;
# 3. the stress and equivalence tests against the release module with their
#    long sizes (KESTREL_LONG_CHECKS=1): four-million-gate programs, 400 MB
#    lines, calls watched for leaks (a million of optimize_qasm, 200,000 of
#    the command line, at least 100,000 of each method, mode, explain and
#    failing text: 5.6 million, about half an hour), 8 threads of 3,000
#    calls, ten times the random examples; and the sum-over-paths proofs of
#    the largest results (tests/python/test_path_sums.py's slow tests).
#
# It ends with the fuzz targets' lines (inputs run, inputs per second, new
# coverage, findings), and fails when a target found something or a test
# failed.
#
#   bash scripts/long-checks.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3600}
bash scripts/setup-deps.sh
for venv in build/venv build/asan-venv; do
  python3 -m venv "$venv"
  "$venv/bin/pip" install -q --upgrade pip
  # CMake and Ninja, and the build requirements of pyproject.toml (the Boost
  # headers among them) for the fuzz targets' build.
  "$venv/bin/pip" install -q "cmake>=3.26" ninja $("$venv/bin/python" -c \
    'import tomllib; print(" ".join(tomllib.load(open("pyproject.toml", "rb"))["build-system"]["requires"]))')
done
export PATH="$PWD/build/venv/bin:$PATH"

# The targets' lines come last, whatever fails after them.
fuzz_status=0
bash scripts/fuzz.sh --share "$seconds" || fuzz_status=$?
trap 'cat build/fuzz/summary.txt' EXIT

CXX=g++ build/asan-venv/bin/pip install -q ".[test]" -C build-dir=build/asan-wheel \
  -C cmake.define.KESTREL_SANITIZE=ON -C cmake.build-type=Debug \
  -C cmake.define.CMAKE_CXX_FLAGS_DEBUG="-O1 -g1"
# The interpreter is not built with the sanitizers, so their runtimes are
# loaded first; its own allocations at exit are not leaks of kestrel's.
LD_PRELOAD="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)" \
  ASAN_OPTIONS=detect_leaks=0 build/asan-venv/bin/python -m pytest -q tests/python \
  --deselect tests/python/test_optimize_qasm.py::test_exhausted_memory_raises_memory_error \
  -k "not resident_memory"

build/venv/bin/pip install -q ".[test]"
KESTREL_LONG_CHECKS=1 build/venv/bin/python -m pytest -q \
  tests/python/test_stress.py tests/python/test_equivalence.py tests/python/test_path_sums.py
exit "$fuzz_status"
