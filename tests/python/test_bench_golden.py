"""kestrel's results on the benchmark circuits stay as bench/golden.json
recorded them: every output text and statistics dictionary, byte for byte.

A change meant only to make the engine faster must leave this passing. A
change that is meant to alter results re-records the file with
`python bench/run.py --record` and says so in its commit. The circuits of
131,072 gates and more, and the thread-scaling batch of 256 circuits, are
left to `python bench/run.py --check`, which takes a little longer.
"""

import sys
import warnings

import pytest

import kestrel
from conftest import REPO

sys.path.insert(0, str(REPO / "bench"))
import circuits  # noqa: E402
import golden  # noqa: E402

MAX_GATES = 32_768
GOLDEN = golden.load_golden()


@pytest.mark.parametrize("key, family, gates", list(golden.keys(MAX_GATES)))
def test_circuit_result_is_unchanged(key, family, gates):
    text = circuits.circuit(family, gates)
    assert golden.sha256(text) == GOLDEN[key]["input_sha256"], "the generator changed"
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        output, stats = kestrel.optimize_qasm(text)
    # Both families are one wire (cx as "cx q[0],q[0];"), read line by line.
    assert not caught
    assert stats == GOLDEN[key]["stats"]
    assert golden.sha256(output) == GOLDEN[key]["output_sha256"]


def test_golden_file_covers_every_circuit():
    expected = {key for key, _, _ in golden.keys()} | {golden.batch_key()}
    assert set(GOLDEN) == expected
