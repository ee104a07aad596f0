"""Rotation merging, one build against another: the same programs through
both, every output compared byte for byte with its statistics and global
phase. A change that is meant to make the method faster without changing
what it does must leave every line of this comparison equal.

    python bench/rotation_merging_compare.py OLD_PYTHON NEW_PYTHON [--quick]

OLD_PYTHON and NEW_PYTHON are interpreters, each with a build of kestrel
installed (for instance a virtual environment with the wheel of the commit
before the change, and one with the wheel of the change). Each runs this
file as a child over the same list of programs, with no time limit that
could cut a search short, and prints per program a digest of the text
written and the statistics; the parent reports every program where the two
differ, and exits 1 if there is one.

The programs: the T-count and QASMBench programs of the shared data folder
(bench/circuits.py's `shared_programs`); `whole_program`'s two families on 64
qubits up to 1,048,576 gates and its Clifford+T family on 64 to 4,096 qubits;
and seeded random programs of 1 to 700 qubits made to exercise every part of
the search: T gates of one product separated by Clifford gates and their
inverses, boundaries of every kind (measurements, resets, barriers, gates
with conditions or parameters, defined gates, Toffolis, broadcasts), a
barrier on every qubit, and wide programs whose few active qubits lie far
apart, where searches walk back through the program before they use the
index.
"""

from __future__ import annotations

import hashlib
import json
import random
import subprocess
import sys
import tempfile
from pathlib import Path

import circuits

# Far beyond any search here: the outputs must not depend on the clock.
NO_LIMIT = 1e6

BOUNDARIES = ["measure q[{a}] -> c[{c}];", "reset q[{a}];", "barrier q[{a}],q[{b}];",
              "if (c=={c}) t q[{a}];", "rz(0.3) q[{a}];", "g q[{a}],q[{b}];",
              "ccx q[{a}],q[{b}],q[{d}];", "u3(0.1,0.2,0.3) q[{b}];"]
ONE_QUBIT = ["h", "s", "sdg", "x", "y", "z", "sx", "sxdg", "id"]
INVERSE = {"h": "h", "s": "sdg", "sdg": "s", "x": "x", "y": "y", "z": "z", "sx": "sxdg",
           "sxdg": "sx", "id": "id", "cx": "cx", "cz": "cz", "swap": "swap", "cy": "cy"}


def random_program(seed: int) -> str:
    """A seeded random program: `qubits` qubits of which a few are active,
    spread over the register, with T gates, Clifford gates, frames that bring
    a T gate's product back after a boundary, and boundaries."""
    rng = random.Random(seed)
    qubits = rng.choice([1, 2, 3, 5, 8, 40, 64, 65, 130, 257, 300, 700])
    active = rng.sample(range(qubits), min(qubits, rng.choice([1, 2, 3, 4, 6, 12, 40])))
    lines = ['OPENQASM 2.0;', 'include "qelib1.inc";', f"qreg q[{qubits}];", "creg c[2];",
             "gate g a, b { cx a, b; t b; }"]

    def pair() -> list[int]:
        return rng.sample(active, 2) if len(active) > 1 else []

    def clifford() -> str | None:
        name = rng.choice(ONE_QUBIT + ["cx", "cz", "swap", "cy"] * 2)
        if name in ("cx", "cz", "swap", "cy"):
            two = pair()
            return f"{name} q[{two[0]}],q[{two[1]}];" if two else None
        return f"{name} q[{rng.choice(active)}];"

    def boundary() -> str:
        if len(active) < 3 or qubits < 3:
            return rng.choice(["measure q[{a}] -> c[{c}];", "reset q[{a}];",
                               "rz(0.3) q[{a}];"]).format(a=rng.choice(active), c=rng.randrange(2))
        a, b, d = rng.sample(active, 3)
        return rng.choice(BOUNDARIES).format(a=a, b=b, d=d, c=rng.randrange(4) % 2)

    shape = rng.randrange(4)  # 0: everything; 1: only cx, t, tdg; 2: few boundaries; 3: walls
    length = rng.choice([10, 60, 400, 3000, 12000])
    for _ in range(length):
        kind = rng.randrange(20)
        if kind < 7:
            lines.append(f"{rng.choice(['t', 't', 'tdg'])} q[{rng.choice(active)}];")
        elif shape == 1:
            two = pair()
            if two:
                lines.append(f"cx q[{two[0]}],q[{two[1]}];")
        elif kind < 14:
            gate = clifford()
            if gate:
                lines.append(gate)
        elif kind < 17 and shape != 2 or kind == 19 and rng.randrange(8) == 0:
            # T gates of one product around a boundary, or around a frame alone.
            a = rng.choice(active)
            frame = [g for g in (clifford() for _ in range(rng.randrange(4))) if g]
            lines += [f"t q[{a}];"] + frame
            if rng.randrange(2):
                lines.append(boundary())
            for gate in reversed(frame):
                name, rest = gate.split(" ", 1)
                lines.append(f"{INVERSE[name]} {rest}")
            lines.append(f"{rng.choice(['t', 'tdg'])} q[{a}];")
        elif kind == 17 and shape == 3 and rng.randrange(20) == 0:
            lines.append("barrier q;")
        elif kind == 18 and rng.randrange(10) == 0:
            lines.append(rng.choice(["t q;", "h q;", "barrier q;"]) if shape == 3 else boundary())
    return "\n".join(lines) + "\n"


def corpus(folder: Path, quick: bool) -> list[Path]:
    paths = circuits.shared_programs("tcount") + circuits.shared_programs("qasmbench")
    sizes = [8_192, 65_536] if quick else [8_192, 131_072, 1_048_576]
    generated = {f"{family}-{gates}": circuits.whole_program(family, gates, 64)
                 for family in circuits.PROGRAM_FAMILIES for gates in sizes}
    for qubits in circuits.WIDTHS:
        for reach in (None, circuits.LOCAL_REACH):
            generated[f"width-{qubits}-{reach}"] = circuits.whole_program(
                "clifford_t_cx", 20_000 if quick else circuits.WIDTH_GATES, qubits, reach)
    for seed in range(60 if quick else 400):
        generated[f"random-{seed}"] = random_program(seed)
    for name, text in generated.items():
        path = folder / f"{name}.qasm"
        path.write_text(text)
        paths.append(path)
    return paths


def child(listing: str) -> None:
    import kestrel
    for path in Path(listing).read_text().splitlines():
        text = Path(path).read_text()
        try:
            out, stats = kestrel.optimize_qasm(text, method="rotation-merging", phase=True,
                                               time_limit=NO_LIMIT)
            record = {"sha256": hashlib.sha256(out.encode()).hexdigest(), "stats": stats}
        except ValueError as e:
            record = {"error": str(e)}
        print(json.dumps({"program": path, **record}), flush=True)


def outputs(python: str, listing: Path) -> dict[str, dict]:
    run = subprocess.run([python, __file__, "--child", str(listing)], check=True,
                         capture_output=True, text=True)
    records = [json.loads(line) for line in run.stdout.splitlines()]
    return {r.pop("program"): r for r in records}


def main() -> int:
    if sys.argv[1] == "--child":
        child(sys.argv[2])
        return 0
    old, new = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="kestrel-compare-") as scratch:
        paths = corpus(Path(scratch), "--quick" in sys.argv)
        listing = Path(scratch) / "programs.txt"
        listing.write_text("".join(f"{p}\n" for p in paths))
        before, after = outputs(old, listing), outputs(new, listing)
    differ = [p for p in map(str, paths) if before.get(p) != after.get(p)]
    merged = sum(1 for r in after.values() if r.get("stats", {}).get("t_after", 0)
                 < r.get("stats", {}).get("t_before", 0))
    print(f"{len(paths)} programs ({merged} with T gates merged), "
          f"{len(paths) - len(differ)} written the same by both builds")
    for p in differ:
        print(f"differs: {Path(p).name}: {before.get(p)} against {after.get(p)}")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
