#!/usr/bin/env bash
# Installs kestrel from this tree and the peers (the bench extra) into
# build/bench-venv, kept apart from the test venv, and runs the benchmark
# suite. Arguments go to bench/run.py: none for the full run (writes
# bench/results.md, .json and .png), --quick for a shorter run,
# --update-readme to put the tables into README.md as well.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh
python3 -m venv build/bench-venv
build/bench-venv/bin/pip install -q --upgrade pip
build/bench-venv/bin/pip install -q "cmake>=3.26" ninja
export PATH="$PWD/build/bench-venv/bin:$PATH"
# pip rebuilds and reinstalls a local project even when its version is unchanged.
build/bench-venv/bin/pip install -q ".[bench]"
exec build/bench-venv/bin/python bench/run.py "$@"
