"""The regression check on the benchmark circuits: what kestrel returned for
each of them, recorded in bench/golden.json and compared with a new run.

    python bench/run.py --record   # writes bench/golden.json and bench/small_golden.json
    python bench/run.py --check    # compares kestrel's results with both files

A digest records what kestrel returned for one circuit of bench/circuits.py:
the SHA-256 of the input and output texts and the statistics dictionary; the
one under "clifford_t/8" is {"input_sha256": "13706d4e...", "output_sha256":
"50a4b427...", "stats": {"t_before": 3, "t_after": 1, ...}}. The thread-scaling
batch has one digest for all its circuits. `record` and `check` also cover
bench/small_golden.json, whose small circuits bench/digests.py digests; a
benchmark run compares the digests its kestrel cells and thread batch
recorded (`check_run`), so a faster engine shows that it changed no result.
"""

from __future__ import annotations

import hashlib
import json
from pathlib import Path
from typing import Any, Callable, Iterator

import circuits
import digests

GOLDEN = Path(__file__).resolve().parent / "golden.json"

Optimize = Callable[[str], tuple[str, dict[str, int]]]


def sha256(text: str) -> str:
    return hashlib.sha256(text.encode()).hexdigest()


def digest(text: str, output: str, stats: dict[str, int]) -> dict[str, Any]:
    """What golden.json keeps for one circuit."""
    return {"input_sha256": sha256(text), "output_sha256": sha256(output), "stats": dict(stats)}


def batch_digest(texts: list[str], results: list[tuple[str, dict[str, int]]]) -> dict[str, Any]:
    """One digest for the whole thread-scaling batch, its statistics summed."""
    inputs, outputs = hashlib.sha256(), hashlib.sha256()
    totals: dict[str, int] = {}
    for text, (output, stats) in zip(texts, results):
        inputs.update(sha256(text).encode())
        outputs.update(sha256(output).encode())
        outputs.update(json.dumps(stats).encode())
        for key, value in stats.items():
            totals[key] = totals.get(key, 0) + value
    return {"input_sha256": inputs.hexdigest(), "output_sha256": outputs.hexdigest(),
            "stats": totals}


def batch_key() -> str:
    return f"batch/{circuits.BATCH_SIZE}x{circuits.BATCH_GATES}"


def keys(max_gates: int | None = None) -> Iterator[tuple[str, str, int]]:
    """(key, family, gates) of every single benchmark circuit up to `max_gates`."""
    for family in circuits.FAMILIES:
        for gates in circuits.SIZES:
            if max_gates is None or gates <= max_gates:
                yield f"{family}/{gates}", family, gates


def compute_digests(optimize: Optimize, max_gates: int | None = None) -> dict[str, dict[str, Any]]:
    """Runs `optimize` (kestrel.optimize_qasm) over every circuit up to
    `max_gates`, and over the batch when its circuits are that small."""
    out: dict[str, dict[str, Any]] = {}
    for key, family, gates in keys(max_gates):
        text = circuits.circuit(family, gates)
        output, stats = optimize(text)
        out[key] = digest(text, output, stats)
    if max_gates is None or circuits.BATCH_GATES <= max_gates:
        texts = circuits.batch_texts()
        out[batch_key()] = batch_digest(texts, [optimize(t) for t in texts])
    return out


def load_golden(path: Path = GOLDEN) -> dict[str, dict[str, Any]]:
    return json.loads(path.read_text())["circuits"]


def save_golden(found: dict[str, dict[str, Any]], path: Path = GOLDEN) -> None:
    document = {
        "about": "kestrel.optimize_qasm on every benchmark circuit of bench/circuits.py: "
                 "SHA-256 of the input and output texts and the statistics. "
                 "Written by `bench/run.py --record`, compared by `bench/run.py --check`.",
        "circuits": found,
    }
    path.write_text(json.dumps(document, indent=1) + "\n")


def compare(found: dict[str, dict[str, Any]], golden: dict[str, dict[str, Any]]) -> list[str]:
    """One line per circuit of `found` whose digest differs from `golden`."""
    problems = []
    for key, value in found.items():
        expected = golden.get(key)
        if expected is None:
            problems.append(f"{key}: not in the golden file")
        elif expected["input_sha256"] != value["input_sha256"]:
            problems.append(f"{key}: the input text changed (the generator, not the engine)")
        elif expected != value:
            problems.append(f"{key}: stats {value['stats']} output {value['output_sha256'][:12]}, "
                            f"golden stats {expected['stats']} output "
                            f"{expected['output_sha256'][:12]}")
    return problems


def check_run(results: dict[str, Any]) -> dict[str, Any]:
    """Compares the digests a benchmark run recorded (kestrel's cells and the
    thread batch) with golden.json: {"compared": count, "problems": lines}."""
    found = {f"{c['family']}/{c['gates']}": c["digest"] for c in results.get("cells", [])
             if c["tool"] == "kestrel" and "digest" in c}
    if "digest" in (results.get("threads") or {}):
        found[batch_key()] = results["threads"]["digest"]
    return {"compared": len(found), "problems": compare(found, load_golden())}


def record(max_gates: int | None) -> None:
    """Writes kestrel's digests of the benchmark circuits up to `max_gates`
    to golden.json and of the small circuits to small_golden.json."""
    import kestrel

    found = compute_digests(kestrel.optimize_qasm, max_gates)
    small = digests.compute(kestrel.optimize_qasm)
    save_golden(found)
    digests.save(small)
    print(f"recorded {len(found)} digests in {GOLDEN} and {len(small)} group "
          f"digests in {digests.SMALL_GOLDEN}")


def check(max_gates: int | None) -> bool:
    """Compares kestrel's results with both files; prints what differs and a
    count per file; true when everything matches."""
    import kestrel

    found = compute_digests(kestrel.optimize_qasm, max_gates)
    small = digests.compute(kestrel.optimize_qasm)
    problems = compare(found, load_golden())
    small_problems = digests.compare(small, digests.load())
    for problem in problems + small_problems:
        print(problem)
    print(f"{len(found) - len(problems)} of {len(found)} circuits match {GOLDEN}")
    print(f"{len(small) - len(small_problems)} of {len(small)} groups of small circuits "
          f"match {digests.SMALL_GOLDEN}")
    return not problems and not small_problems
