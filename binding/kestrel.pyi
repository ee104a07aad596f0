"""Lowers the T count of Clifford+T circuits written in OpenQASM 2.0.

The options and their defaults are those of kestrel's table of options;
tests/python/test_module.py checks this file against it."""

from typing import Literal

__version__: str

_methods: tuple[str, ...]

def optimize_qasm(
    qasm: str,
    *,
    method: Literal["saturation", "normal-form", "rotation-merging", "phase-polynomial"] = "saturation",
    per_qubit: bool = False,
    phase: bool = False,
    strict: bool = False,
    iter_limit: int = 30,
    node_limit: int = 10000,
    time_limit: float = 5.0,
    ancillas: int = 0,
    epsilon: float | None = None,
    two_qubit_cost: float = 0.01,
    both_ways: bool = False,
) -> tuple[str, dict[str, int]]:
    """optimize_qasm(qasm: str) -> (optimized_qasm: str, stats: dict)

    method: 'saturation' (equality saturation with the gate identities),
    'normal-form' (the T-optimal normal form of every single-qubit run),
    'rotation-merging' (the T gates and rotations of any angle of a whole
    program merged across its Clifford gates; always reads the text as a
    whole program) or 'phase-polynomial' (rotation merging, then each block
    of commuting rotations rewritten as a reduced phase polynomial; whole
    programs; its statistics add two_qubit_before and two_qubit_after). The
    whole-program methods' statistics add rotations_before and
    rotations_after, the rotations whose angle is no multiple of pi/4.
    An angle that is no finite number raises ValueError, for every method.
    per_qubit: read the whole program and optimise every qubit's runs.
    phase: add 'phase' to the statistics, the exact global phase k (0 to 15)
    with input = e^(i k pi/8) * result; where a whole-program method's phase
    is no multiple of pi/8, 'phase_radians' (a float r, input = e^(i r) *
    result) instead.
    strict: raise ValueError where a one-wire method (saturation,
    normal-form, without per_qubit) warns with OneWireWarning that the text
    is not one wire.
    iter_limit, node_limit, time_limit: where saturation stops. With
    per_qubit=True the time limit bounds the whole call: the runs share it,
    and a run not reached before it comes back as it was. With rotation
    merging, T gates read after the time limit stay as they are.
    ancillas: phase-polynomial only: at most this many extra qubits for
    Hadamard gadgets, each measured at the end with a correction conditioned
    on its outcome (statistics add extra_qubits); 0 keeps the program's
    qubits.
    epsilon: rotation-merging and phase-polynomial only: after the
    method's merging, every rotation whose angle is no multiple of pi/4 is
    replaced in place by Clifford+T gates within operator-norm distance
    epsilon of it up to a global phase (rx and ry through h and s; gates
    such as u3, cp or rzz expanded first), so that the result holds only h,
    s, sdg, t, tdg, x, y, z, cx and cz besides measure, reset, if and
    barrier; each distinct angle (modulo pi/2, up to sign) is synthesised
    once. Merging then rounds no angle by more than min(1e-9, 2 epsilon).
    The statistics add synthesis_error (a float: the distances achieved and
    the roundings, summed, a bound on the distance between input and result
    up to the phase reported), rotations_synthesised and
    synthesised_angles; phase=True reports phase_radians. epsilon must lie
    in (0, 0.1] (and be at least 1e-30), else ValueError.
    two_qubit_cost: phase-polynomial only: a block (or a region with
    gadgets) is rewritten only where that lowers T + two_qubit_cost *
    (two-qubit gates); 0 looks at T alone.
    both_ways: phase-polynomial only: the method also runs on the inverse
    of its result (read from the end) and on the inverse of the program,
    up to twice each way, and keeps what is cheaper by the rule above;
    programs of at most 2,048 gates whose gates all have inverses in
    qelib1 (t, tdg, s, sdg, h, x, y, z, cx, cz, ccx, swap, ...). Up to ten
    times the method's time. A result a run on an inverse gave is written
    a statement a line, without the program's comments."""

def _optimize_gates(
    gates: bytes,
    qubits: bytes,
    width: int,
    *,
    method: Literal["saturation", "normal-form", "rotation-merging", "phase-polynomial"] = "saturation",
    iter_limit: int = 30,
    node_limit: int = 10000,
    time_limit: float = 5.0,
) -> tuple[list[tuple[int, bytes]], int]:
    """For kestrel.qiskit: a circuit as gate codes and qubits optimised."""

_gate_codes: dict[str, int]

def explain(
    qasm: str,
    *,
    strict: bool = False,
    iter_limit: int = 30,
    node_limit: int = 10000,
    time_limit: float = 5.0,
) -> Report:
    """Optimises `qasm` as optimize_qasm does and reports how the text was read
    and the saturation run."""

def synthesize_rz(angle: float, epsilon: float) -> tuple[list[str], int]:
    """synthesize_rz(angle: float, epsilon: float) -> (gates: list[str], t_count: int)

    Approximates rz(angle) with Clifford+T gates within operator-norm
    distance epsilon, up to a global phase, with the fewest T gates of any
    such circuit without extra qubits (Ross and Selinger's method). The gates
    are names among h, s, sdg, t, tdg, x and z in circuit order. The same
    angle and epsilon give the same gates on every machine. epsilon must lie
    in (0, 0.1] (and be at least 1e-30), else ValueError."""

def cli() -> None:
    """CLI entrypoint with no Python args (usable via console_scripts).
    Parses argv: kestrel --in file.qasm [--out out.qasm] [--stats]

    The command line (the `kestrel` command, python -m kestrel): reads the
    process's arguments, optimises the file they name and prints the result.
    kestrel --help lists the options."""

class OneWireWarning(UserWarning):
    """A one-wire method read a text that holds no gate, or one that is neither
    one wire nor a program: the result is not equivalent to the program."""

class PanicException(BaseException):
    """An internal fault of kestrel. It derives from BaseException, so that
    `except Exception` does not catch it."""

class Iteration:
    """One iteration of a saturation run."""

    @property
    def nodes(self) -> int:
        """E-graph nodes at the iteration's start."""
    @property
    def classes(self) -> int:
        """E-graph classes at the iteration's start."""
    @property
    def applied(self) -> dict[str, int]:
        """The rules that changed the e-graph, with their counts, in rule order."""
    @property
    def banned(self) -> list[str]:
        """The rules the scheduler banned in this iteration."""
    @property
    def search_time(self) -> float:
        """Seconds of the search phase."""
    @property
    def apply_time(self) -> float:
        """Seconds of the apply phase."""
    @property
    def rebuild_time(self) -> float:
        """Seconds of the closing rebuild."""

class Report:
    """What explain() found: the result with a report of the saturation run."""

    @property
    def text(self) -> str:
        """The optimised text, as optimize_qasm returns it."""
    @property
    def stats(self) -> dict[str, int]:
        """The statistics, as optimize_qasm returns them."""
    @property
    def reading(self) -> Literal["one wire", "per qubit"]:
        """How the text was read: as one wire, or per qubit (a text that is
        not one wire), each qubit's runs saturated on their own."""
    @property
    def reading_reason(self) -> str | None:
        """Read per qubit: the line where reading the text as one wire would
        have parted from the program, as the warnings say it; else None."""
    @property
    def stop_reason(
        self,
    ) -> Literal["saturated", "iteration limit", "node limit", "time limit"] | None:
        """Why the run stopped; None for a text read per qubit."""
    @property
    def stop_value(self) -> int | float | None:
        """Iterations or nodes at a limit of those, seconds at the time limit."""
    @property
    def skipped(self) -> bool:
        """True when the input alone exceeded the node limit: no e-graph was built."""
    @property
    def nodes(self) -> int:
        """Nodes of the final e-graph, as the node limit counts them."""
    @property
    def classes(self) -> int:
        """Classes of the final e-graph."""
    @property
    def iterations(self) -> list[Iteration]:
        """One record per iteration, in order."""
    @property
    def dot(self) -> str | None:
        """The final e-graph in Graphviz's dot language; None above 2,000 nodes."""
