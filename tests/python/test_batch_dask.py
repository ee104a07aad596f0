"""examples/batch_dask.py on a LocalCluster of two worker processes."""

import shutil
import sys

import pytest

import kestrel
from conftest import EXAMPLES, REPO, run

pytest.importorskip("dask.distributed")


def test_every_result_equals_a_sequential_call_and_a_failure_does_not_stop_the_rest(tmp_path):
    inputs = tmp_path / "in"
    # The examples and QASMBench's programs, in their folders.
    for path in [*EXAMPLES.glob("*.qasm"), *(EXAMPLES / "qasmbench").glob("*.qasm")]:
        target = inputs / path.relative_to(EXAMPLES)
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(path, target)
    (inputs / "broken.qasm").symlink_to(tmp_path / "nowhere.qasm")
    texts = {p.relative_to(inputs): p.read_text() for p in inputs.rglob("*.qasm") if p.exists()}
    assert len(texts) >= 4

    result = run([sys.executable, str(REPO / "examples" / "batch_dask.py"), str(inputs),
                  "--out", str(tmp_path / "out"), "--workers", "2"], tmp_path)
    assert result.returncode == 1, result.stderr.decode()
    assert f"failed: {inputs / 'broken.qasm'}: [Errno 2] No such file or directory" in result.stderr.decode()
    assert f"files                 {len(texts)} of {len(texts) + 1}" in result.stdout.decode()
    written = {p.relative_to(tmp_path / "out") for p in (tmp_path / "out").rglob("*.qasm")}
    assert written == set(texts)
    for relative, text in texts.items():
        assert (tmp_path / "out" / relative).read_text() == kestrel.optimize_qasm(text)[0]
