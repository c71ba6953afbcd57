"""The examples of the README and of the pages under docs/ run and print exactly what
the page shows."""

import doctest
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]


@pytest.mark.parametrize("page", PAGES, ids=lambda p: str(p.relative_to(ROOT)))
def test_page_examples_print_what_the_page_shows(page: pathlib.Path) -> None:
    result = doctest.testfile(
        str(page),
        module_relative=False,
        optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE,
    )
    assert result.failed == 0
    if page.name in ("README.md", "reference.md"):
        assert result.attempted > 0
