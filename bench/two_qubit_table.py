"""The phase-polynomial method's T and two-qubit gates on the T-count
programs of examples/tcount/, beside an earlier commit's and the published
counts of Nam, Ross, Su, Childs and Maslov's heavy optimisation.

    python bench/two_qubit_table.py [--before REF] [--write]

Per program: T / two-qubit gates of the input, of the method at REF (read
from tests/python/tcount_digests.json as that commit recorded it), of the
method now (at the default limits and `two_qubit_cost`, through
`optimize_qasm`), of Nam's heavy optimisation
(`two_qubit_published.nam_heavy` in examples/tcount/frontier.json, where
recorded), and with `ancillas=1000000` at REF and now. Programs the digest
file leaves out of a mode (at REF) are left out of that mode's columns;
gf2^128_mult is left out.

    python bench/two_qubit_table.py --pyzx PROGRAM [PROGRAM ...]

prints instead, for the named programs, the method beside PyZX's
`teleport_reduce` then `basic_optimization` in one process: T and
two-qubit gates of each output (both counted by Qiskit from the text) and
the processor seconds of each call.

    python bench/two_qubit_table.py --both-ways

prints instead, per program of at most 2,048 gates, the method by default
and with `both_ways=True`: T / two-qubit gates and the processor seconds of
one call each, in one process.

Prints the markdown table; `--write` puts it in
place of the table with the same header in the section "The
phase-polynomial method's two-qubit gates" of bench/results.md.
"""

from __future__ import annotations

import argparse
import gzip
import json
import subprocess
import time
from pathlib import Path

import kestrel

ROOT = Path(__file__).resolve().parents[1]
PROGRAMS = ROOT / "examples" / "tcount"
DIGESTS = "tests/python/tcount_digests.json"
RESULTS = ROOT / "bench" / "results.md"
SECTION = "## The phase-polynomial method's two-qubit gates"
LEFT_OUT = {"gf2^128_mult"}
MODES = {"phase-polynomial": {}, "gadgets": {"ancillas": 1_000_000}}


def text_of(path: Path) -> str:
    return gzip.open(path, "rt").read() if path.suffix == ".gz" else path.read_text()


def pair(t, two_qubit) -> str:
    return "" if t is None else f"{t:,} / {two_qubit:,}"


def rows(before: dict) -> list[str]:
    frontier = json.loads((PROGRAMS / "frontier.json").read_text())
    out = []
    for path in sorted(PROGRAMS.glob("*.qasm*")):
        name = path.name.split(".qasm")[0]
        if name in LEFT_OUT:
            continue
        text = text_of(path)
        cells = []
        for mode, options in MODES.items():
            old = before.get(f"{name}/{mode}")
            if old is None:
                cells.append(("", ""))
                continue
            _, stats = kestrel.optimize_qasm(text, method="phase-polynomial", **options)
            cells.append((pair(old["t"], old["two_qubit"]),
                          pair(stats["t_after"], stats["two_qubit_after"])))
            given = (stats["t_before"], stats["two_qubit_before"])
        nam = frontier.get(name, {}).get("two_qubit_published", {}).get("nam_heavy", {})
        out.append(f"| {name} | {pair(*given)} | {cells[0][0]} | {cells[0][1]} | "
                   f"{pair(nam.get('t'), nam.get('two_qubit'))} | {cells[1][0]} | {cells[1][1]} |")
    return out


HEAD = ("| program | input T / 2q | before T / 2q | now T / 2q | Nam heavy T / 2q "
        "| gadgets before T / 2q | gadgets now T / 2q |")


def table(before_ref: str) -> str:
    before = json.loads(subprocess.check_output(["git", "show", f"{before_ref}:{DIGESTS}"], cwd=ROOT))
    return HEAD + "\n|---|---:|---:|---:|---:|---:|---:|\n" + "\n".join(rows(before))


def write(new_table: str) -> None:
    text = RESULTS.read_text()
    # The section holds other tables (PyZX beside kestrel): this one is
    # found by its own header line.
    start = text.index(SECTION)
    first = text.index("\n" + HEAD, start) + 1
    end = text.index("\n\n", first)
    RESULTS.write_text(text[:first] + new_table + text[end:])


def counted(text: str, t: int | None = None) -> str:
    """T / two-qubit gates of a program, counted by Qiskit from its text
    (T given where the text writes T gates as rz(±π/4), as PyZX does)."""
    from qiskit import QuantumCircuit

    circuit = QuantumCircuit.from_qasm_str(text)
    ops = circuit.count_ops()
    two_qubit = sum(1 for item in circuit.data if len(item.qubits) == 2)
    return pair(ops.get("t", 0) + ops.get("tdg", 0) if t is None else t, two_qubit)


def beside_pyzx(names: list[str]) -> str:
    import pyzx as zx

    out = ["| program | kestrel T / 2q | kestrel s | PyZX T / 2q | PyZX s |",
           "|---|---:|---:|---:|---:|"]
    for name in names:
        text = text_of(next(PROGRAMS.glob(f"{name}.qasm*")))
        start = time.process_time()
        ours, _ = kestrel.optimize_qasm(text, method="phase-polynomial")
        ours_s = time.process_time() - start
        start = time.process_time()
        graph = zx.Circuit.from_qasm(text).to_graph()
        graph = zx.simplify.teleport_reduce(graph)
        theirs = zx.optimize.basic_optimization(zx.Circuit.from_graph(graph).to_basic_gates())
        theirs_s = time.process_time() - start
        out.append(f"| {name} | {counted(ours)} | {ours_s:.3f} | "
                   f"{counted(theirs.to_qasm(), theirs.tcount())} | {theirs_s:.3f} |")
    return "\n".join(out)


def both_ways() -> str:
    out = ["| program | input T / 2q | default T / 2q | s | both_ways T / 2q | s |",
           "|---|---:|---:|---:|---:|---:|"]
    for path in sorted(PROGRAMS.glob("*.qasm")):
        text = text_of(path)
        cells = []
        for both in (False, True):
            start = time.process_time()
            _, stats = kestrel.optimize_qasm(text, method="phase-polynomial", both_ways=both)
            cells.append(f"{pair(stats['t_after'], stats['two_qubit_after'])} | {time.process_time() - start:.3f}")
        if stats["gates_before"] <= 2048:
            out.append(f"| {path.name.split('.qasm')[0]} | {pair(stats['t_before'], stats['two_qubit_before'])} | "
                       + " | ".join(cells) + " |")
    return "\n".join(out)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--before", default="HEAD", help="the commit whose digests are 'before'")
    parser.add_argument("--write", action="store_true", help="replace the table in bench/results.md")
    parser.add_argument("--pyzx", nargs="+", metavar="PROGRAM",
                        help="print these programs beside PyZX instead")
    parser.add_argument("--both-ways", action="store_true",
                        help="print the method by default and with both_ways=True instead")
    args = parser.parse_args()
    if args.both_ways:
        print(both_ways())
        return
    if args.pyzx:
        print(beside_pyzx(args.pyzx))
        return
    new_table = table(args.before)
    print(new_table)
    if args.write:
        write(new_table)


if __name__ == "__main__":
    main()
