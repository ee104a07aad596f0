#!/usr/bin/env bash
# Sets up everything and runs every test: the C++ tests through CTest, then
# the Python tests against the module installed into build/venv, then the
# quick reliability checks: the C++ tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and each fuzz target for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh
python3 -m venv build/venv
build/venv/bin/pip install -q --upgrade pip
build/venv/bin/pip install -q "cmake>=3.26" ninja
export PATH="$PWD/build/venv/bin:$PATH"

cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/cpp
ctest --test-dir build/cpp --output-on-failure -j 2

# pip rebuilds and reinstalls a local project even when its version is unchanged.
build/venv/bin/pip install -q ".[test]"
build/venv/bin/python -m pytest tests/python -q

# -O1 with line tables only: the sanitizers see the same code, and the build
# takes half the time of an -O2 -g one.
CXX=g++ cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DKESTREL_SANITIZE=ON >/dev/null
cmake --build build/asan --target kestrel_tests kestrel_boundary_tests
ctest --test-dir build/asan --output-on-failure -j 2

bash scripts/fuzz.sh 60
