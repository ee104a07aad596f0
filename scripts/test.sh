#!/usr/bin/env bash
# Sets up everything and runs every test: the C++ tests through CTest, then
# the Python tests against the module installed into build/venv.
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
