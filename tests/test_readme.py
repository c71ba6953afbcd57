"""The examples of the README and of the pages under docs/ run and print exactly what
the page shows."""

import doctest
import importlib.metadata
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]


def installed() -> bool:
    try:
        importlib.metadata.version("vexa_core")
    except importlib.metadata.PackageNotFoundError:
        return False
    return True


@pytest.mark.parametrize("page", PAGES, ids=lambda p: str(p.relative_to(ROOT)))
def test_page_examples_print_what_the_page_shows(page: pathlib.Path) -> None:
    test = doctest.DocTestParser().get_doctest(page.read_text(), {}, page.name, str(page), 0)
    # Run against a build tree, the module has no installed metadata to read its version
    # from; the runs against the installed wheels check that example.
    if not installed():
        test.examples = [e for e in test.examples if "metadata.version" not in e.source]
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    result = runner.summarize(verbose=False)
    assert result.failed == 0
    if page.name in ("README.md", "reference.md"):
        assert result.attempted > 0
