"""kestrel's results on every circuit of up to four gates and on seeded random
circuits of 5 to 40 gates stay as bench/small_golden.json recorded them.

These are the inputs where the rules, the scheduler's bans and the
extraction's ties decide the most per gate, so a faster engine that changes
any iteration order, count or tie shows up here. A group that fails is
listed with `python bench/digests.py --show GROUP`, to compare with a build
of the commit that recorded the file.
"""

import re
import sys
import warnings

import pytest

import kestrel
from conftest import REPO

sys.path.insert(0, str(REPO / "bench"))
import digests  # noqa: E402

GOLDEN = digests.load()
GROUPS = list(digests.groups())


@pytest.mark.parametrize("key, texts", GROUPS, ids=[key for key, _ in GROUPS])
def test_group_results_are_unchanged(key, texts):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        assert digests.digest_group(texts, kestrel.optimize_qasm) == GOLDEN[key]
    # Every text is one wire, read line by line; only the empty one warns.
    expected = ["holds no gate" for text in texts if text == digests.HEADER]
    assert [re.search(r"holds no gate", str(w.message)).group() for w in caught] == expected


def test_groups_cover_every_short_circuit_and_the_recorded_file():
    assert sum(len(texts) for key, texts in GROUPS if not key.startswith("random/")) == 4_681
    assert len({text for _, texts in GROUPS for text in texts}) == 4_681 + 360
    assert [key for key, _ in GROUPS] == list(GOLDEN)
