"""Digests that pin kestrel's results on small circuits, where the rules do
the most work for their size.

    python bench/digests.py --record   # writes bench/small_golden.json
    python bench/digests.py --check    # compares kestrel's results with it
    python bench/digests.py --show 4/h-t  # the circuits of one group and their results

The circuits: every sequence of up to four gates over h, s, sdg, t, tdg, x, z
and cx (1 + 8 + 64 + 512 + 4,096 = 4,681 texts, the empty one included), and
seeded random sequences of 5 to 40 gates of both benchmark families. They
are grouped (the sequences of one length, the four-gate ones by their first
two gates, the random ones by family and length), and the file keeps one
SHA-256 per group over each circuit's output text and statistics in order,
so a change to the engine that alters any result names the group it is in;
`--show` then lists that group's results for comparing two builds.
"""

from __future__ import annotations

import argparse
import hashlib
import itertools
import json
import sys
from pathlib import Path
from typing import Callable, Iterator

BENCH = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH))

import circuits  # noqa: E402

SMALL_GOLDEN = BENCH / "small_golden.json"
GATES = circuits.GATES["with_cx"]
HEADER = circuits.HEADERS["with_cx"]
MAX_ENUMERATED = 4
RANDOM_LENGTHS = range(5, 41)
RANDOM_PER_LENGTH = 5  # per family and length: 2 * 36 * 5 = 360 circuits

Optimize = Callable[[str], tuple[str, dict[str, int]]]


def text_of(names: list[str] | tuple[str, ...]) -> str:
    return HEADER + "".join(circuits.line(n) for n in names)


def groups() -> Iterator[tuple[str, list[str]]]:
    """(group key, texts) in a fixed order."""
    for length in range(MAX_ENUMERATED):
        yield f"{length}", [text_of(p) for p in itertools.product(GATES, repeat=length)]
    for first, second in itertools.product(GATES, repeat=2):
        rest = itertools.product(GATES, repeat=MAX_ENUMERATED - 2)
        yield (f"{MAX_ENUMERATED}/{first}-{second}",
               [text_of((first, second, *r)) for r in rest])
    for family in circuits.FAMILIES:
        for length in RANDOM_LENGTHS:
            yield (f"random/{family}/{length}",
                   [circuits.circuit(family, length, index) for index in range(RANDOM_PER_LENGTH)])


def result_line(output: str, stats: dict[str, int]) -> str:
    """One circuit's result as it enters its group's digest."""
    return json.dumps([output, stats]) + "\n"


def digest_group(texts: list[str], optimize: Optimize) -> str:
    h = hashlib.sha256()
    for text in texts:
        h.update(result_line(*optimize(text)).encode())
    return h.hexdigest()


def compute(optimize: Optimize) -> dict[str, str]:
    return {key: digest_group(texts, optimize) for key, texts in groups()}


def load() -> dict[str, str]:
    return json.loads(SMALL_GOLDEN.read_text())["groups"]


def save(found: dict[str, str]) -> None:
    document = {
        "about": "kestrel.optimize_qasm on every circuit of up to four gates and on seeded "
                 "random circuits of 5 to 40 gates, grouped as bench/digests.py groups them: "
                 "per group the SHA-256 of each result's output text and statistics in order. "
                 "Written by `bench/digests.py --record`, compared by "
                 "`tests/python/test_small_digests.py`.",
        "groups": found,
    }
    SMALL_GOLDEN.write_text(json.dumps(document, indent=1) + "\n")


def compare(found: dict[str, str], golden: dict[str, str]) -> list[str]:
    """One line per group whose digest differs from the recorded one."""
    problems = [f"{key}: results differ from the recorded ones"
                for key, value in found.items() if golden.get(key) != value]
    problems += [f"{key}: recorded but not computed" for key in golden if key not in found]
    return problems


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    action = parser.add_mutually_exclusive_group(required=True)
    action.add_argument("--record", action="store_true", help="write " + SMALL_GOLDEN.name)
    action.add_argument("--check", action="store_true", help="compare with " + SMALL_GOLDEN.name)
    action.add_argument("--show", metavar="GROUP", help="print one group's circuits and results")
    args = parser.parse_args()

    import kestrel
    if args.show:
        texts = dict(groups()).get(args.show)
        if texts is None:
            sys.exit(f"no group {args.show}")
        for text in texts:
            gates = [row.split(" ", 1)[0] for row in text.splitlines()[3:]]
            print(" ".join(gates) or "(empty)", "->", result_line(*kestrel.optimize_qasm(text)),
                  end="")
        return
    found = compute(kestrel.optimize_qasm)
    if args.record:
        save(found)
        print(f"recorded {len(found)} group digests in {SMALL_GOLDEN}")
        return
    problems = compare(found, load())
    for problem in problems:
        print(problem)
    print(f"{len(found) - len(problems)} of {len(found)} groups match {SMALL_GOLDEN}")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
