"""Limits as options, explain() and its report, --report and --dot."""

import random
import re
import shutil
import subprocess
import sys

import pydot
import pytest

import kestrel
from conftest import EXAMPLES, program, qasm, run

T_PAIRS = (EXAMPLES / "t_pairs.qasm").read_text()
# Long enough that the default node limit leaves it untouched.
LONG = "".join(f"{g} q[0];\n" for g in random.Random(1).choices(["h", "s", "t", "tdg", "x", "z", "t", "t"], k=12_000))


@pytest.mark.parametrize("options, reason, value", [
    ({"iter_limit": 2}, "iteration limit", 2),
    ({"node_limit": 40}, "node limit", None),
    ({"time_limit": 1e-9}, "time limit", None),
    # The defaults given: the plain call's result.
    ({"iter_limit": 30, "node_limit": 10000, "time_limit": 5.0}, "saturated", None),
    # Limits too large for the machine mean no limit (on the command line:
    # CommandLine.Words in C++).
    ({"iter_limit": 10**400, "node_limit": 10**400, "time_limit": 1e300}, "saturated", None),
])
def test_each_limit_stops_the_run_with_its_reason(options, reason, value):
    report = kestrel.explain(T_PAIRS, **options)
    assert report.stop_reason == reason
    if value is not None:
        assert report.stop_value == value == len(report.iterations)
    if reason == "node limit":
        # The closing rebuild of the last iteration may enter a few more nodes.
        assert report.nodes >= report.stop_value > options["node_limit"]
    if reason == "time limit":
        assert isinstance(report.stop_value, float) and report.stop_value > 1e-9
    if reason == "saturated":
        assert report.stop_value is None and report.iterations[-1].applied == {}
        assert (report.text, report.stats) == kestrel.optimize_qasm(T_PAIRS)
    assert (report.text, report.stats) == kestrel.optimize_qasm(T_PAIRS, **options)


def test_a_higher_node_limit_lets_a_long_circuit_lose_t_gates():
    default = kestrel.explain(LONG)
    assert default.skipped and default.iterations == [] and default.stop_reason == "node limit"
    assert default.stats["t_after"] == default.stats["t_before"]
    raised = kestrel.explain(LONG, node_limit=30_000)
    assert not raised.skipped and raised.iterations
    assert raised.stats["t_after"] < default.stats["t_after"]
    # Neither is drawn: the e-graph is too large, or there is none.
    assert raised.dot is None and default.dot is None


def test_the_report_agrees_with_itself():
    # The runs' traces themselves are Runner.Traces (C++); here, their record.
    report = kestrel.explain(T_PAIRS)
    rule_order = ["seq-assoc-lr", "seq-assoc-rl", "t-t-to-s", "s-s-to-z"]
    for it in report.iterations:
        assert list(it.applied) == [r for r in rule_order if r in it.applied]
        assert all(count > 0 for count in it.applied.values())
        assert min(it.search_time, it.apply_time, it.rebuild_time) >= 0
    # Eight gate lines: the leaves H and T once each, and seven seq nodes.
    assert repr(report).startswith("Report(stop_reason='saturated', stop_value=None,")
    assert repr(report.iterations[0]).startswith("Iteration(nodes=9, classes=9, applied={'seq-assoc-lr': 6},")


def drawn_counts(dot: str) -> tuple[int, int, int]:
    """The clusters, boxes and edges of a drawing as pydot reads the DOT text (no Graphviz needed), checked against what
    Graphviz draws of it where its `dot` program is installed (scripts/test.sh installs it)."""
    (graph,) = pydot.graph_from_dot_data(dot)
    clusters = [g for g in graph.get_subgraphs() if g.get_name().startswith("cluster_")]
    counts = (len(clusters), sum(len(c.get_nodes()) for c in clusters), len(graph.get_edges()))
    if shutil.which("dot") is not None:
        svg = subprocess.run(["dot", "-Tsvg"], input=dot, capture_output=True, text=True, check=True, timeout=60).stdout
        assert (svg.count('class="cluster"'), svg.count('class="node"'), svg.count('class="edge"')) == counts
    return counts


@pytest.mark.parametrize("text", [T_PAIRS, qasm("h q[0];", "z q[0];", "h q[0];"), qasm("t q[0];", "tdg q[0];")])
def test_the_drawing_has_a_cluster_per_class_and_a_box_per_node(text):
    report = kestrel.explain(text)
    dot = report.dot
    boxes = re.findall(r"^    n(\d+)_\d+ \[label=\"(\w+)\"", dot, re.MULTILINE)
    clusters, drawn_boxes, edges = drawn_counts(dot)
    assert (clusters, drawn_boxes) == (report.classes, len(boxes))
    # An edge from each seq box to each of its two children.
    assert edges == 2 * sum(label == "seq" for _, label in boxes)
    assert len(boxes) <= report.nodes
    # One filled box in each class: the node extraction chose.
    assert dot.count("fillcolor") == report.classes
    assert dot.count("(root)") == 1


@pytest.mark.parametrize("options, error, message", [
    ({"iter_limit": 0}, ValueError, "iter_limit must be a whole number of at least 1, not 0"),
    ({"node_limit": -5}, ValueError, "node_limit must be a whole number of at least 1, not -5"),
    ({"iter_limit": 2.0}, TypeError, "iter_limit must be an int, not 'float'"),
    ({"node_limit": True}, TypeError, "node_limit must be an int, not 'bool'"),
    ({"time_limit": 0}, ValueError, "time_limit must be a positive finite number of seconds, not 0"),
    ({"time_limit": float("inf")}, ValueError, "time_limit must be a positive finite number of seconds, not inf"),
    ({"time_limit": float("nan")}, ValueError, "time_limit must be a positive finite number of seconds, not nan"),
    ({"time_limit": "5"}, TypeError, "time_limit must be a number of seconds, not 'str'"),
    ({"method": "fast"}, ValueError,
     "method must be 'saturation', 'normal-form', 'rotation-merging' or 'phase-polynomial', not 'fast'"),
    ({"method": 1}, TypeError, "method must be a str, not 'int'"),
    ({"per_qubit": 1}, TypeError, "per_qubit must be a bool, not 'int'"),
    ({"phase": 1}, TypeError, "phase must be a bool, not 'int'"),
    ({"iterations": 3}, TypeError, "optimize_qasm() got an unexpected keyword argument 'iterations'"),
    # The phase-polynomial method's own: at least 0, any size; a finite cost.
    *[({"method": "phase-polynomial", "ancillas": n}, ValueError,
       f"ancillas must be a whole number of at least 0, not {n}") for n in (-1, -2 ** 70)],
    ({"method": "phase-polynomial", "two_qubit_cost": float("nan")}, ValueError,
     "two_qubit_cost must be a finite number of at least 0, not nan"),
    ({"method": "phase-polynomial", "two_qubit_cost": "1"}, TypeError, "two_qubit_cost must be a number, not 'str'"),
    ({"method": "phase-polynomial", "two_qubit_cost": True}, TypeError, "two_qubit_cost must be a number, not 'bool'"),
    # Given to another method, even at its default value.
    ({"method": "saturation", "ancillas": 0}, ValueError,
     "ancillas applies to method 'phase-polynomial' only, not 'saturation'"),
    ({"method": "rotation-merging", "two_qubit_cost": 0.01}, ValueError,
     "two_qubit_cost applies to method 'phase-polynomial' only, not 'rotation-merging'"),
    ({"method": "normal-form", "both_ways": True}, ValueError,
     "both_ways applies to method 'phase-polynomial' only, not 'normal-form'"),
    ({"method": "phase-polynomial", "both_ways": 1}, TypeError, "both_ways must be a bool, not 'int'"),
])
def test_bad_options_name_the_argument(options, error, message):
    with pytest.raises(error) as caught:
        kestrel.optimize_qasm(T_PAIRS, **options)
    assert str(caught.value) == message
    # explain takes the limits only.
    unknown = set(options) - {"iter_limit", "node_limit", "time_limit"}
    with pytest.raises(TypeError if unknown else error,
                       match=f"explain\\(\\) got an unexpected keyword argument '({'|'.join(unknown)})'"
                       if unknown else None):
        kestrel.explain(T_PAIRS, **options)


class TestCommandLine:
    def test_limits_report_and_drawing(self, tmp_path):
        (tmp_path / "in.qasm").write_text(T_PAIRS)
        result = run([sys.executable, "-m", "kestrel", "--in", "in.qasm", "--stats", "--report", "--iter-limit", "2",
                      "--node-limit", "500", "--time-limit", "9.5", "--dot", "e.dot"], tmp_path)
        assert result.returncode == 0, result.stderr
        report = kestrel.explain(T_PAIRS, iter_limit=2, node_limit=500, time_limit=9.5)
        assert result.stdout.decode() == report.text
        # The table's columns and rows: docs/how-it-works.md's example (test_readme).
        stats, reading, header, *rows, last = result.stderr.decode().splitlines()
        assert (stats, reading, len(rows)) == (str(report.stats), "read as one wire", 2)
        assert last == (f"stopped: iteration limit (2) after 2 iterations; final e-graph: "
                        f"{report.nodes} nodes in {report.classes} classes")
        assert (tmp_path / "e.dot").read_text() == report.dot

    # No drawing: the text read per qubit (no e-graph), or an e-graph too large.
    @pytest.mark.parametrize("text, args, stderr", [
        (program(2, "t q[0];", "t q[0];", "cx q[0],q[1];"),
         ["--report"], re.escape(
             'read per qubit, since line 3 declares more than one qubit (2 in all): "qreg q[2];"; '
             "each qubit's runs were saturated on their own, with no report of the runs\n"
             "kestrel: no e-graph was built (the input was read per qubit); no dot file written\n")),
        (LONG, ["--node-limit", "30000"],
         r"kestrel: the e-graph has \d+ nodes, too many to draw \(at most 2000\); no dot file written\n"),
    ], ids=["per qubit", "too large"])
    def test_no_drawing_says_why_and_writes_nothing(self, tmp_path, text, args, stderr):
        (tmp_path / "in.qasm").write_text(text)
        result = run([sys.executable, "-m", "kestrel", "--in", "in.qasm", "--dot", "e.dot", *args], tmp_path)
        limits = {"node_limit": int(args[1])} if len(args) > 1 else {}
        assert (result.returncode, result.stdout.decode()) == (0, kestrel.optimize_qasm(text, **limits)[0])
        assert re.fullmatch(stderr, result.stderr.decode())
        assert not (tmp_path / "e.dot").exists()
