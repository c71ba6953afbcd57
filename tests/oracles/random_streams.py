"""The reference draws of random_streams.txt, the table the native tests read as well."""

from __future__ import annotations

import pathlib
from dataclasses import dataclass, field

TABLE = pathlib.Path(__file__).with_name("random_streams.txt")


@dataclass
class StreamTable:
    outputs: list[tuple[int, int, int]] = field(default_factory=list)  # (seed, index, value)
    raw: dict[int, list[int]] = field(default_factory=dict)
    uniform: dict[int, list[float]] = field(default_factory=dict)
    normal: dict[int, list[float]] = field(default_factory=dict)
    normal_at: list[tuple[int, int, list[float]]] = field(default_factory=list)


def load() -> StreamTable:
    table = StreamTable()
    for line in TABLE.read_text().splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        kind, seed_text, *values = line.split()
        seed = int(seed_text)
        if kind == "output":
            table.outputs.append((seed, int(values[0]), int(values[1])))
        elif kind == "raw":
            table.raw[seed] = [int(v) for v in values]
        elif kind == "uniform":
            table.uniform[seed] = [float.fromhex(v) for v in values]
        elif kind == "normal":
            table.normal[seed] = [float.fromhex(v) for v in values]
        elif kind == "normal-at":
            table.normal_at.append((seed, int(values[0]), [float.fromhex(v) for v in values[1:]]))
        else:
            raise ValueError(f"unknown record {kind!r} in {TABLE.name}")
    return table
