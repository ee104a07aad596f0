#!/usr/bin/env bash
# The long reliability checks, beyond what scripts/test.sh runs: each fuzz
# target for the given number of seconds (default 3600), then the Python
# stress tests with their long sizes (KESTREL_LONG_CHECKS=1: four-million-gate
# programs, 400 MB lines, a million calls watched for leaks, 8 threads of
# 3,000 calls) and the property tests with ten times the examples.
#
#   bash scripts/long-checks.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3600}
bash scripts/setup-deps.sh
python3 -m venv build/venv
build/venv/bin/pip install -q --upgrade pip
build/venv/bin/pip install -q "cmake>=3.26" ninja
export PATH="$PWD/build/venv/bin:$PATH"

bash scripts/fuzz.sh "$seconds"

build/venv/bin/pip install -q ".[test]"
KESTREL_LONG_CHECKS=1 build/venv/bin/python -m pytest -q \
  tests/python/test_stress.py tests/python/test_equivalence.py
