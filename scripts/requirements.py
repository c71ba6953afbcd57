"""Prints the requirements that pyproject.toml declares, one per line, for pip's -r.

    python scripts/requirements.py build test demo
    python scripts/requirements.py --skip-tools-on-path build

Each name is `build` (the build backend's own requirements), `runtime` (what the
package itself depends on, NumPy), an extra of
[project.optional-dependencies] or a group of [dependency-groups]; the requirements
are declared there once and read from there by the Makefile. With
--skip-tools-on-path, CMake and Ninja are left out when the ones on PATH run and are
new enough (CMake alone is about 90 MB in an environment).
"""

from __future__ import annotations

import pathlib
import re
import shutil
import subprocess
import sys
import tomllib

PYPROJECT = pathlib.Path(__file__).resolve().parents[1] / "pyproject.toml"


def requirements(project: dict, name: str) -> list[str]:
    if name == "build":
        return list(project["build-system"]["requires"])
    if name == "runtime":
        return list(project["project"]["dependencies"])
    extras = project["project"].get("optional-dependencies", {})
    if name in extras:
        return list(extras[name])
    groups = project.get("dependency-groups", {})
    if name not in groups:
        raise SystemExit(f"pyproject.toml declares no extra or dependency group {name!r}")
    found: list[str] = []
    for item in groups[name]:
        found += requirements(project, item["include-group"]) if isinstance(item, dict) else [item]
    return found


def version(numbers: str) -> tuple[int, ...]:
    return tuple(int(n) for n in re.findall(r"\d+", numbers)[:3])


def found_on_path(requirement: str) -> bool:
    """The requirement is `cmake` or `ninja`, with at most a lower bound, and the tool of
    that name on PATH runs and meets the bound."""
    match = re.fullmatch(r"(cmake|ninja)\s*(?:>=\s*([\d.]+))?", requirement)
    if not match or not shutil.which(match[1]):
        return False
    try:
        out = subprocess.run(
            [match[1], "--version"], capture_output=True, text=True, timeout=30, check=True
        ).stdout
    except (OSError, subprocess.SubprocessError):
        return False
    have = re.search(r"\d+(\.\d+)+", out)
    return have is not None and version(have[0]) >= version(match[2] or "0")


def main(args: list[str]) -> None:
    skip_tools = "--skip-tools-on-path" in args
    project = tomllib.loads(PYPROJECT.read_text())
    seen: dict[str, None] = {}
    for name in (a for a in args if a != "--skip-tools-on-path"):
        seen.update(dict.fromkeys(requirements(project, name)))
    print("\n".join(r for r in seen if not (skip_tools and found_on_path(r))))


if __name__ == "__main__":
    main(sys.argv[1:])
