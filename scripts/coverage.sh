#!/usr/bin/env bash
# Line coverage of engine/, src/ and binding/ by the deterministic suites of
# scripts/test.sh: the C++ tests (CTest) and the Python tests against a module
# built with --coverage. No fuzzing and no sanitizer rerun: those are not
# deterministic or run the same tests again.
#
#   bash scripts/coverage.sh [tests-revision]
#   bash scripts/coverage.sh --compare BEFORE AFTER
#
# With a revision, the tests/ directory of that revision is run instead of the
# working tree's (the product code is always the working tree's), from a copy
# under build/coverage/tree. Everything is built at -O0 into build/coverage/
# so that every line is its own; the summary per directory and in total is
# printed and written to build/coverage/summary-<tests>.txt, the per-file
# report to files-<tests>.txt and every line's counts to lines-<tests>.json.
# --compare lists the lines that the BEFORE run covered and the AFTER run did
# not (labels as given to earlier runs). Not part of the test command.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$repo/build/coverage
label=${1:-worktree}

if [[ $label == --compare ]]; then
  python3 - "$work/lines-$2.json" "$work/lines-$3.json" <<'EOF'
import json, sys
def covered(path):
    lines = set()
    for f in json.load(open(path))["files"]:
        lines |= {(f["file"], l["line_number"]) for l in f["lines"] if l["count"] > 0}
    return lines
lost = sorted(covered(sys.argv[1]) - covered(sys.argv[2]))
for file, line in lost:
    print(f"{file}:{line}: {open(file).read().splitlines()[line - 1].strip()}")
print(f"{len(lost)} lines covered before and not after")
EOF
  exit
fi

bash scripts/setup-deps.sh
if [[ ! -x $work/venv/bin/gcovr ]]; then
  python3 -m venv "$work/venv"
  "$work/venv/bin/pip" install -q --upgrade pip
  "$work/venv/bin/pip" install -q "cmake>=3.26" ninja "scikit-build-core>=0.10" gcovr \
    pytest hypothesis mypy numpy
fi
export PATH="$work/venv/bin:$PATH" CMAKE_BUILD_PARALLEL_LEVEL=2

# The tree to measure: this checkout, or a copy with another revision's tests
# (rewriting only the files that differ, so that the builds stay current).
tree=$repo
if [[ $label != worktree ]]; then
  tree=$work/tree
  python3 - "$tree" "$label" <<'EOF'
import sys
from pathlib import Path
sys.path.insert(0, "scripts")
import mutants
tree, rev = Path(sys.argv[1]), sys.argv[2]
mutants.sync_tree(tree, {**mutants.git_files(None, mutants.PRODUCT), **mutants.git_files(rev, ["tests"])})
EOF
fi

cpp=$work/cpp-$label wheel=$work/wheel-$label
cmake -S "$tree" -B "$cpp" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g --coverage" >/dev/null
cmake --build "$cpp" --target kestrel_tests kestrel_boundary_tests
(cd "$tree" && pip install -q --no-deps --no-build-isolation -C build-dir="$wheel" \
  -C cmake.build-type=Debug -C cmake.define.CMAKE_CXX_FLAGS_DEBUG="-O0 -g --coverage" .)
# Counters start from zero; notes of sources deleted since an earlier build go.
find "$cpp" "$wheel" -name '*.gcda' -delete
python3 - "$tree" "$cpp" "$wheel" <<'EOF'
import re, sys
from pathlib import Path
tree = Path(sys.argv[1])
for build in map(Path, sys.argv[2:]):
    for notes in build.rglob("*.gcno"):
        # <build>/<dir>/CMakeFiles/<target>.dir/<path>.gcno, ".." written "__"
        rel = notes.relative_to(build).as_posix()
        source = re.sub(r"CMakeFiles/[^/]+\.dir/", "", rel)[: -len(".gcno")].replace("__", "..")
        if not (tree / source).resolve().is_file():
            notes.unlink()
EOF

# A failing test still counts what it ran; the failure is reported.
ctest --test-dir "$cpp" -j 2 --output-on-failure || echo "coverage.sh: some C++ tests failed" >&2
(cd "$tree" && env -u KESTREL_LONG_CHECKS python -m pytest tests/python -q -p no:cacheprovider) ||
  echo "coverage.sh: some Python tests failed" >&2

# gcovr sums the counts of a header's lines over every object that includes it.
gcovr -r "$tree" --filter "$tree/engine/" --filter "$tree/src/" --filter "$tree/binding/" \
  --gcov-ignore-parse-errors=negative_hits.warn \
  --json "$work/lines-$label.json" \
  --txt "$work/files-$label.txt" "$cpp" "$wheel"
# A line counts once, covered when any instantiation of it ran (gcovr's own
# totals count a template's lines once per instantiation).
python3 - "$work/lines-$label.json" <<'EOF' | tee "$work/summary-$label.txt"
import json, sys
lines = {}
for f in json.load(open(sys.argv[1]))["files"]:
    for line in f["lines"]:
        key = (f["file"], line["line_number"])
        lines[key] = lines.get(key, False) or line["count"] > 0
rows = {}
for (file, _), covered in lines.items():
    for d in (file.split("/")[0], "total"):
        hit, total = rows.get(d, (0, 0))
        rows[d] = (hit + covered, total + 1)
for d, (hit, total) in sorted(rows.items(), key=lambda r: r[0] == "total"):
    print(f"{d:8} {hit:5} of {total:5} lines  {100 * hit / total:5.1f}%")
EOF
