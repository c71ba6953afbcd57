"""The README's Layout section stays true: every path it lists exists, and every source
directory and every part of src/common is listed."""

import pathlib
import re

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]


def layout_entries() -> dict[str, str]:
    """Path -> description, from the indented block under the README's Layout heading.
    An entry starts at the block's indent; deeper lines continue its description."""
    section = re.search(
        r"^### Layout\n(.*?)(?=^#|\Z)", (ROOT / "README.md").read_text(), re.M | re.S
    )
    assert section, "README.md has no Layout section"
    entries: dict[str, str] = {}
    path = None
    for line in section.group(1).splitlines():
        if line.startswith("    ") and not line.startswith("     "):
            path, _, text = line.strip().partition(" ")
            entries[path] = text
        elif line.startswith("     ") and path is not None:
            entries[path] += " " + line.strip()
        elif line.strip():
            path = None  # prose after the block
    assert entries, "the Layout section lists nothing"
    return entries


ENTRIES = layout_entries()


def named_files(path: str) -> list[str]:
    """The files that an entry's description names, such as run.py or reference.md."""
    return re.findall(r"\b([\w-]+\.(?:py|cpp|md|txt|sh))\b", ENTRIES[path])


def named_parts(path: str) -> set[str]:
    """The parts of a source directory that its entry names in backticks: file names
    without their extension, such as `thread_team` for thread_team.hpp and .cpp."""
    return set(re.findall(r"`(\w+)`", ENTRIES[path]))


def stems(directory: str) -> set[str]:
    return {p.stem for p in (ROOT / directory).iterdir() if p.is_file()}


@pytest.mark.parametrize("path", sorted(ENTRIES))
def test_every_listed_path_file_and_part_exists(path: str) -> None:
    assert (ROOT / path).exists(), f"{path} is listed but does not exist"
    if path.endswith("/"):
        assert [f for f in named_files(path) if not (ROOT / path / f).exists()] == []
    if path.startswith("src/"):
        assert named_parts(path) - stems(path) == set()


@pytest.mark.parametrize(
    "directory", sorted(p.name for p in (ROOT / "src").iterdir() if p.is_dir())
)
def test_every_source_directory_is_listed(directory: str) -> None:
    assert f"src/{directory}/" in ENTRIES


def test_every_common_part_is_named() -> None:
    assert stems("src/common") - named_parts("src/common/") == set()
