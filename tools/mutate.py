#!/usr/bin/env python3
"""Applies one fault of tools/mutations.tsv to a copy of the source tree.

  mutate.py list FILE             print "id<TAB>path" of every entry
  mutate.py apply FILE ID TREE    replace the entry's first search hit in TREE

A line of the list is: id, path, search text, replacement, what the fault
is, separated by tabs; `\\n`, `\\t` and `\\\\` stand for a newline, a tab and
a backslash. Blank lines and lines starting with # are skipped. `apply`
exits with status 3 when the path or the search text is not in the tree, so
that entries for code that does not exist yet count as not applicable.
"""
import os
import sys


def unescape(text):
    out = []
    i = 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "t": "\t", "\\": "\\"}.get(text[i + 1],
                                                            text[i:i + 2]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def entries(list_file):
    with open(list_file, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 5:
                sys.exit(f"Error: {list_file}:{number}: expected 5 tab-separated"
                         f" fields, found {len(fields)}")
            yield fields


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("list", "apply"):
        sys.exit(__doc__)
    if sys.argv[1] == "list":
        for ident, path, _, _, what in entries(sys.argv[2]):
            print(f"{ident}\t{path}\t{what}")
        return
    ident, tree = sys.argv[3], sys.argv[4]
    for eid, path, search, replace, _ in entries(sys.argv[2]):
        if eid != ident:
            continue
        target = os.path.join(tree, path)
        if not os.path.isfile(target):
            sys.exit(3)
        with open(target, encoding="utf-8") as f:
            text = f.read()
        search = unescape(search)
        if search not in text:
            sys.exit(3)
        with open(target, "w", encoding="utf-8") as f:
            f.write(text.replace(search, unescape(replace), 1))
        return
    sys.exit(f"Error: no fault {ident} in {sys.argv[2]}")


if __name__ == "__main__":
    main()
