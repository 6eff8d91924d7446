#!/usr/bin/env python3
"""Checks that the files and functions a Markdown document names exist.

Every `back-quoted` word is looked at:
  - `name()`: a function; some source file must define or declare it at the
    start of a line (a type before the name, or SM_ACTION(name)).
  - a path below a folder of the repository (`src/tarn/core/startup.cpp`,
    `tests/e2e`), with * as a wildcard: it must exist.
  - a bare file name with a source extension (`startup.cpp`): some file of
    the repository must have that name.
Anything else (options, texts, paths on the board such as /var/log) is left
alone. Prints each name that is missing; exit status 1 if there is one.

Usage: check_doc_names.py REPOSITORY FILE.md...
"""
import fnmatch
import glob
import os
import re
import sys

SOURCE_EXT = (".cpp", ".h", ".c", ".py", ".sh", ".def", ".tsv", ".xml", ".md", ".txt", ".cmake")
SKIP_DIRS = {".git", "node_modules"}


def repo_files(root):
    out = []
    for d, dirs, files in os.walk(root):
        rel = os.path.relpath(d, root)
        top = rel.split(os.sep)[0]
        dirs[:] = [x for x in dirs if x not in SKIP_DIRS and not (rel == "." and x.startswith("build"))]
        if top.startswith("build") and rel != ".":
            continue
        for f in files:
            out.append(os.path.join(d, f))
    return out


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[-1])
        return 2
    root = os.path.abspath(argv[1])
    files = repo_files(root)
    names = {os.path.basename(f) for f in files}
    tops = {e for e in os.listdir(root) if not e.startswith(".") and not e.startswith("build")}
    code = []
    for f in files:
        if f.endswith((".cpp", ".h", ".c", ".def")):
            with open(f, encoding="utf-8", errors="replace") as fh:
                code.append(fh.read())
    code = "\n".join(code)
    missing = 0
    for doc in argv[2:]:
        with open(doc, encoding="utf-8") as fh:
            text = fh.read()
        seen = set()
        for m in re.finditer(r"`([^`\n]+)`", text):
            word = m.group(1).strip()
            if word in seen:
                continue
            seen.add(word)
            line = text.count("\n", 0, m.start()) + 1
            fn = re.fullmatch(r"([A-Za-z_][A-Za-z0-9_]*)\(\)", word)
            if fn:
                name = fn.group(1)
                pat = r"(?m)^(?:[A-Za-z_][^\n;]*[\s*&:])?%s\s*\(|SM_(?:TABLE_)?ACTION\(%s\)" % (name, name)
                if not re.search(pat, code):
                    print("%s:%d: no function %s() in the sources" % (doc, line, name))
                    missing += 1
                continue
            if " " in word or word.startswith(("/", "$", "-")) or "<" in word:
                continue
            path = word.rstrip("/")
            if "/" in path:
                if path.split("/")[0] not in tops:
                    continue
                if not glob.glob(os.path.join(root, path)):
                    print("%s:%d: no %s in the repository" % (doc, line, path))
                    missing += 1
            elif path.endswith(SOURCE_EXT) and not fnmatch.filter(names, path):
                print("%s:%d: no file named %s in the repository" % (doc, line, path))
                missing += 1
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
