#!/usr/bin/env bash
# Sets up everything and runs every test: one abi3 wheel, built with the C++
# tests beside the module (one compilation of the core serves both), checked
# with abi3audit and auditwheel; the C++ tests through CTest; the Python tests
# against that wheel installed into build/venv; then the quick reliability
# checks: the C++ tests again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in the fuzz targets' build (build/fuzz), and each
# fuzz target for 20 seconds (the phase-polynomial one 80), two at a time
# (140 seconds for the eight).
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

# The wheel's build folder of its own keeps the tests' targets out of the
# folder that plain installs use (pyproject.toml's build-dir).
rm -rf build/wheelhouse
pip wheel -q --no-deps . -w build/wheelhouse -C build-dir=build/checked-wheel \
  -C cmake.define.KESTREL_TESTS=ON
ctest --test-dir build/checked-wheel --output-on-failure -j 2
wheel=$(echo build/wheelhouse/kestrel_tcount-*.whl)
# The distribution was named kestrel before: neither may be left to share the files.
pip uninstall -q -y kestrel kestrel-tcount 2>/dev/null || true
pip install -q "$wheel[test,dask]"
# No symbol outside CPython 3.10's limited API, and the manylinux policy the
# wheel's shared-library needs meet.
abi3audit --strict --assume-minimum-abi3 3.10 "$wheel"
auditwheel show "$wheel"
python -m pytest tests/python -q

# The same build as scripts/fuzz.sh's, whose targets it then runs.
CXX=clang++-16 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DKESTREL_FUZZ=ON >/dev/null
cmake --build build/fuzz --target kestrel_tests kestrel_boundary_tests
ctest --test-dir build/fuzz --output-on-failure -j 2

bash scripts/fuzz.sh 20
