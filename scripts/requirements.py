"""Prints the requirements that pyproject.toml declares, one per line, for pip's -r.

    python scripts/requirements.py build test demo

Each name is `build` (the build backend's own requirements), `runtime` (what the
package itself depends on, NumPy), an extra of
[project.optional-dependencies] or a group of [dependency-groups]; the requirements
are declared there once and read from there by the Makefile.
"""

from __future__ import annotations

import pathlib
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


def main(names: list[str]) -> None:
    project = tomllib.loads(PYPROJECT.read_text())
    seen: dict[str, None] = {}
    for name in names:
        seen.update(dict.fromkeys(requirements(project, name)))
    print("\n".join(seen))


if __name__ == "__main__":
    main(sys.argv[1:])
