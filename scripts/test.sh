#!/usr/bin/env bash
# Sets up everything and runs every test: the C++ tests through CTest; one
# abi3 wheel, checked with abi3audit and auditwheel; the Python tests against
# that wheel installed into build/venv; then the quick reliability checks: the
# C++ tests again under AddressSanitizer and UndefinedBehaviorSanitizer, and
# each fuzz target for 20 seconds, two at a time (80 seconds for the eight).
# It installs the Debian packages it needs (scripts/setup-deps.sh, as root);
# the Python tests alone need pip only:
#   pip install '.[test]' && python -m pytest tests/python
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh
python3 -m venv build/venv
build/venv/bin/pip install -q --upgrade pip
# The build requirements of pyproject.toml (the Boost headers among them),
# and CMake and Ninja for the C++ builds.
build/venv/bin/pip install -q "cmake>=3.26" ninja $(build/venv/bin/python -c \
  'import tomllib; print(" ".join(tomllib.load(open("pyproject.toml", "rb"))["build-system"]["requires"]))')
export PATH="$PWD/build/venv/bin:$PATH"

cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/cpp
ctest --test-dir build/cpp --output-on-failure -j 2

rm -rf build/wheelhouse
pip wheel -q --no-deps . -w build/wheelhouse
wheel=$(echo build/wheelhouse/kestrel_tcount-*.whl)
# The distribution was named kestrel before: neither may be left to share the files.
pip uninstall -q -y kestrel kestrel-tcount 2>/dev/null || true
pip install -q "$wheel[test,dask]"
# No symbol outside CPython 3.10's limited API, and the manylinux policy the
# wheel's shared-library needs meet.
abi3audit --strict --assume-minimum-abi3 3.10 "$wheel"
auditwheel show "$wheel"
python -m pytest tests/python -q

# -O1 with line tables only: the sanitizers see the same code, and the build
# takes half the time of an -O2 -g one.
CXX=g++ cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DKESTREL_SANITIZE=ON >/dev/null
cmake --build build/asan --target kestrel_tests kestrel_boundary_tests
ctest --test-dir build/asan --output-on-failure -j 2

bash scripts/fuzz.sh 20
