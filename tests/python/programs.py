"""What the tests of whole-program methods share: where the shared program
folders are, a program's statements as text, Qiskit's reading of a program
and Qiskit's counts of it."""

import os
import re
from pathlib import Path

from qiskit import qasm2

from conftest import REPO


def shared_programs(name):
    """The folder ../shared/data/<name> beside the repository (for a work
    tree, a folder further up), or where KESTREL_<NAME> points; None when
    there is none."""
    override = os.environ.get(f"KESTREL_{name.upper()}")
    candidates = ([Path(override)] if override else []) + [
        d / "shared" / "data" / name for d in REPO.parents]
    return next((p for p in candidates if p.is_dir()), None)


def statements(text):
    """The statements of a program text, comments removed and ends stripped:
    a statement ends at a ';' outside braces or at the '}' closing a body."""
    text = re.sub(r"//[^\n]*", "", text)
    out, start, depth = [], 0, 0
    for i, ch in enumerate(text):
        if ch == "{":
            depth += 1
        elif ch == "}":
            depth -= 1
            if depth == 0:
                out.append(text[start:i + 1].strip())
                start = i + 1
        elif ch == ";" and depth == 0:
            out.append(text[start:i + 1].strip())
            start = i + 1
    assert not text[start:].strip(), "the text ends inside a statement"
    return out


def load(text):
    return qasm2.loads(text, custom_instructions=qasm2.LEGACY_CUSTOM_INSTRUCTIONS)


def figures(circuit):
    """Qiskit's counts for a circuit: T applications, gate applications (a
    conditional gate counts as its gate; measure, reset and barrier do not)
    and depth."""
    t = gates = 0
    for instruction in circuit.data:
        name = instruction.operation.name
        if name == "if_else":
            name = instruction.operation.blocks[0].data[0].operation.name
        if name in ("measure", "reset", "barrier"):
            continue
        gates += 1
        t += name in ("t", "tdg")
    return {"t": t, "gates": gates, "depth": circuit.depth()}
