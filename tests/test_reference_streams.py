"""Bit-exact random streams of the NumPy reference sampler.

The expected values are the table in oracles/random_streams.txt, which the native tests
check the compiled streams against as well.
"""

import pytest

from oracles import random_streams
from oracles import reference_tournament as ref

TABLE = random_streams.load()
SEEDS = list(TABLE.raw)


def hexes(values):
    return [float(v).hex() for v in values]


@pytest.mark.parametrize(
    ("seed", "index", "value"),
    TABLE.outputs,
    ids=[f"seed{s}-output{i}" for s, i, _ in TABLE.outputs],
)
def test_single_output(seed, index, value):
    engine = ref.MT19937_64(seed)
    for _ in range(index):
        engine.next_u64()
    assert engine.next_u64() == value


@pytest.mark.parametrize("seed", SEEDS, ids=[f"seed{s}" for s in SEEDS])
def test_raw_uniform_and_normal_draws(seed):
    engine = ref.MT19937_64(seed)
    assert [engine.next_u64() for _ in TABLE.raw[seed]] == TABLE.raw[seed]
    engine = ref.MT19937_64(seed)
    assert hexes(engine.uniform() for _ in TABLE.uniform[seed]) == hexes(TABLE.uniform[seed])
    source = ref.NormalSource(ref.MT19937_64(seed))
    assert hexes(source.draw(0.0, 1.0) for _ in TABLE.normal[seed]) == hexes(TABLE.normal[seed])


@pytest.mark.parametrize(
    ("seed", "index", "values"),
    TABLE.normal_at,
    ids=[f"seed{s}-normal{i}" for s, i, _ in TABLE.normal_at],
)
def test_normals_deep_into_a_stream(seed, index, values):
    source = ref.NormalSource(ref.MT19937_64(seed))
    got = [source.draw(0.0, 1.0) for _ in range(index + len(values))][index:]
    assert hexes(got) == hexes(values)


def test_uniform_is_the_top_53_bits_across_twists():
    # 1000 outputs cross three state twists of 312 words.
    raw, uni = ref.MT19937_64(1042), ref.MT19937_64(1042)
    for _ in range(1000):
        assert uni.uniform() == (raw.next_u64() >> 11) * 2.0**-53


def test_normal_cache_is_scaled_by_the_later_request():
    # The second value of a pair is cached unscaled and scaled when it is handed out.
    base = ref.NormalSource(ref.MT19937_64(42))
    z0, z1 = base.draw(0.0, 1.0), base.draw(0.0, 1.0)
    mixed = ref.NormalSource(ref.MT19937_64(42))
    assert mixed.draw(1.0, 0.5) == z0 * 0.5 + 1.0
    assert mixed.draw(-3.0, 2.0) == z1 * 2.0 - 3.0


@pytest.mark.parametrize(
    ("v", "expected"),
    [(1.0, 0), (0.75, -1), (-3.0, 1), (2.0**-1074, -1074), (1.7976931348623157e308, 1023)],
    ids=["one", "below-one", "negative", "smallest-subnormal", "largest"],
)
def test_ilogb(v, expected):
    assert ref.ilogb(v) == expected
    scaled = ref.scalbn(v, -expected)
    assert 1.0 <= abs(scaled) < 2.0
