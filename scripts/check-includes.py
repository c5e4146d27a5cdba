#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Holds the station service's includes to the folder table of
docs/architecture.md ("The station's folders"): each row names a folder and,
in backticks, what its files may include besides their own folder, the
standard library and system headers. Fails, naming file and line, on

  - an include of the project that the including folder's row does not allow,
  - a folder under station/ that the table does not name,
  - a table whose folders allow each other round in a circle,
  - files of the service that include each other round in a circle,
  - an include of the project that names no file.

Usage: check-includes.py [ROOT]   (ROOT: the checkout, by default this one)
"""

import re
import sys
from pathlib import Path

TABLE_HEADING = "## The station's folders"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
TICKED = re.compile(r"`([^`]+)`")
SOURCES = (".h", ".cpp")
# Where a quoted include is looked for, after the including file's folder:
# the include folders the build gives the service's targets.
SEARCH = ("", "include", "src", "station")


def read_table(root):
    """{folder: [allowed prefixes]}, folders as 'station/base/'."""
    text = (root / "docs" / "architecture.md").read_text(encoding="utf-8")
    start = text.find(TABLE_HEADING)
    if start < 0:
        raise SystemExit(f"docs/architecture.md: no section '{TABLE_HEADING}'")
    rows = {}
    for line in text[start:].splitlines()[1:]:
        if line.startswith("## "):
            break
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if len(cells) != 3 or not cells[0].startswith("`"):
            continue
        folder = TICKED.findall(cells[0])[0]
        allowed = []
        for item in TICKED.findall(cells[2]):
            # A bare name is a folder of the service; anything else a path.
            allowed.append(item if "/" in item else f"station/{item}/")
        rows[folder] = allowed
    if not rows:
        raise SystemExit(f"docs/architecture.md: the table under '{TABLE_HEADING}' has no rows")
    return rows


def resolve(root, source, name):
    for base in [source.parent] + [root / folder for folder in SEARCH]:
        candidate = (base / name).resolve()
        if candidate.is_file() and root in candidate.parents:
            return candidate.relative_to(root).as_posix()
    return None


def allowed(target, folder, rules):
    if target.startswith(folder) and "/" not in target[len(folder):]:
        return True  # its own folder
    return any(target == rule or (rule.endswith("/") and target.startswith(rule)) for rule in rules)


def circle(graph):
    """One circle of the graph as a list of its nodes, or None."""
    state = {}
    for start in sorted(graph):
        if start in state:
            continue
        stack = [(start, iter(sorted(graph[start])))]
        path = [start]
        state[start] = "open"
        while stack:
            node, edges = stack[-1]
            step = next(edges, None)
            if step is None:
                stack.pop()
                path.pop()
                state[node] = "done"
            elif state.get(step) == "open":
                return path[path.index(step):] + [step]
            elif step not in state and step in graph:
                state[step] = "open"
                path.append(step)
                stack.append((step, iter(sorted(graph[step]))))
    return None


def check(root):
    root = root.resolve()
    rows = read_table(root)
    problems = []

    # A rule names a folder of the table, or a file in one.
    folders = {folder: set() for folder in rows}
    for folder, rules in rows.items():
        for rule in rules:
            home = rule if rule.endswith("/") else rule.rsplit("/", 1)[0] + "/"
            if home in rows and home != folder:
                folders[folder].add(home)
    loop = circle(folders)
    if loop:
        problems.append("docs/architecture.md: the folders allow each other round: " + " -> ".join(loop))

    station = root / "station"
    for directory in sorted(p for p in [station, *station.rglob("*")] if p.is_dir()):
        if not any(f.suffix in SOURCES for f in directory.iterdir()):
            continue
        name = directory.relative_to(root).as_posix() + "/"
        if name not in rows:
            problems.append(f"{name}: a folder of the service that the table does not name")

    files = {}
    for folder, rules in rows.items():
        directory = root / folder
        if not directory.is_dir():
            problems.append(f"{folder}: named by the table, but there is no such folder")
            continue
        for source in sorted(directory.iterdir()):
            if source.suffix not in SOURCES:
                continue
            path = source.relative_to(root).as_posix()
            files[path] = set()
            text = source.read_text(encoding="utf-8")
            for match in INCLUDE.finditer(text):
                line = text.count("\n", 0, match.start()) + 1
                target = resolve(root, source, match.group(1))
                if target is None:
                    problems.append(f"{path}:{line}: \"{match.group(1)}\" names no file of the project")
                    continue
                files[path].add(target)
                if not allowed(target, folder, rules):
                    problems.append(f"{path}:{line}: {folder} may not include {target}")

    loop = circle(files)
    if loop:
        problems.append("files include each other round: " + " -> ".join(loop))
    return problems


def main():
    root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent
    problems = check(root)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"{len(problems)} include(s) break the folder table of docs/architecture.md",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
