#!/usr/bin/env python3
"""Checks that the engine's includes only run downward through the folder map of core/README.md.

Reads the order of the folders of src/ (top to bottom) and the folder each public header is
implemented in from the README's tables, then every quoted include of core/src and
core/include/quarn. Fails on an include that runs upward, on one not written as
"folder/header.h", on one naming no existing header and on a folder of src/ the map leaves out.

Usage: check_includes.py [core directory]   (default: the core/ beside this script)
"""

import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
CELL_NAME = re.compile(r"`([^`]+)`")


def table_rows(readme: str, heading: str) -> list[list[str]]:
    """The body rows of the first table after the heading, as lists of cells."""
    start = readme.index(heading)
    rows = []
    for line in readme[start:].splitlines()[1:]:
        if line.startswith("#"):
            break
        if not line.startswith("|"):
            if rows:
                break
            continue
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if all(set(c) <= set("-: ") for c in cells):
            continue
        rows.append(cells)
    return rows[1:]  # the first row is the header


def read_map(readme: str) -> tuple[list[str], dict[str, str]]:
    folders = []
    for cells in table_rows(readme, "## Folders of `src/`"):
        folders.append(CELL_NAME.search(cells[0]).group(1).rstrip("/"))
    public = {}
    for cells in table_rows(readme, "## Public headers"):
        if len(cells) < 3 or not cells[2].startswith("`"):
            sys.exit("core/README.md: each public header row must end with the folder that implements it")
        level = CELL_NAME.search(cells[2]).group(1).rstrip("/")
        for header in CELL_NAME.findall(cells[0]):
            public[header] = level
    return folders, public


def main() -> int:
    core = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "core"
    src, include = core / "src", core / "include"
    folders, public = read_map((core / "README.md").read_text())
    rank = {name: i for i, name in enumerate(folders)}
    problems = []
    upward = 0

    for folder in sorted(p.name for p in src.iterdir() if p.is_dir()):
        if folder not in rank:
            problems.append(f"src/{folder}/ is not in the folder map of core/README.md")
    for header, level in public.items():
        if level not in rank:
            problems.append(f"public header {header} is implemented in {level}/, which the map leaves out")

    sources = [(p, p.relative_to(src).parts[0]) for p in sorted(src.rglob("*")) if p.suffix in (".h", ".cpp")]
    sources += [(p, public.get(p.name)) for p in sorted((include / "quarn").glob("*.h"))]
    for path, level in sources:
        where = path.relative_to(core)
        if path.parent == src:
            problems.append(f"{where}: not inside a folder of src/")
            continue
        if level is None:
            problems.append(f"{where}: not in the public header table of core/README.md")
            continue
        if level not in rank:
            continue  # reported above
        for number, line in enumerate(path.read_text().splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            target = m.group(1)
            head, _, rest = target.partition("/")
            if not rest:
                problems.append(f'{where}:{number}: "{target}" is not written as "folder/header.h"')
                continue
            if head == "quarn":
                if not (include / target).is_file():
                    problems.append(f'{where}:{number}: "{target}" names no public header')
                    continue
                target_level = public.get(rest)
                if target_level is None:
                    problems.append(f"{where}:{number}: {target} is not in the public header table")
                    continue
            else:
                if not (src / target).is_file():
                    problems.append(f'{where}:{number}: "{target}" names no header of src/')
                    continue
                target_level = head
            if rank[target_level] < rank[level]:
                upward += 1
                problems.append(f"{where}:{number}: {level}/ includes {target}, which sits above it in {target_level}/")

    for problem in problems:
        print(problem)
    print(f"upward include arrows: {upward}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
