#!/usr/bin/env python3
"""Reads the call and registration state tables out of Markdown text and
writes one TAB-separated line per row:

    table  row  states  event  next state  outgoing event  action

A table starts at a line "Table `state_tab_NAME` (N rows):" and its rows are
the lines of the pipe table that follows. The states are joined by " | ",
events are kept as written ("SIP 200 nua_i_bye", "ISDN 99 EVENT_SETUP",
"SIP code 1002"), the action loses its back quotes and "—" stands for none.

Every table must hold exactly the rows its heading announces, numbered 1..N
without a gap; anything else is an error (exit status 1) so that a damaged
source never yields a short table.

Usage: extract_state_tables.py FILE.md... [-o OUT.tsv]   (standard output
without -o)
"""
import argparse
import re
import sys

HEADING = re.compile(r"^Table `state_tab_(\w+)` \((\d+) rows\):\s*$")
SEPARATOR = re.compile(r"^\|(\s*-+\s*\|)+\s*$")


def split_cells(line):
    """Cells of a Markdown table line; "\\|" inside a cell is a literal bar."""
    body = line.strip()
    if not (body.startswith("|") and body.endswith("|")):
        return None
    cells = re.split(r"(?<!\\)\|", body[1:-1])
    return [c.strip().replace("\\|", "|") for c in cells]


def clean_action(cell):
    if cell == "—":
        return cell
    m = re.fullmatch(r"`([A-Za-z_][A-Za-z0-9_]*)`", cell)
    if not m:
        raise ValueError("action is not one name in back quotes: %r" % cell)
    return m.group(1)


def clean_states(cell):
    names = [s.strip() for s in cell.split("|")]
    for n in names:
        if not re.fullmatch(r"ANY|SM_[A-Z0-9_]+", n):
            raise ValueError("not a state name: %r" % n)
    return " | ".join(names)


def extract(paths):
    """[(table, [row tuples])] in the order the tables appear."""
    tables = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")
        i = 0
        while i < len(lines):
            m = HEADING.match(lines[i])
            i += 1
            if not m:
                continue
            name, count = m.group(1), int(m.group(2))
            where = "%s: table %s" % (path, name)
            # Blank lines, then the header and separator lines of the table.
            while i < len(lines) and not lines[i].strip():
                i += 1
            header = split_cells(lines[i]) if i < len(lines) else None
            if header != ["#", "State", "Event", "Next state", "Outgoing event", "Action"]:
                raise ValueError("%s: unexpected table header %r" % (where, lines[i] if i < len(lines) else ""))
            i += 1
            if i >= len(lines) or not SEPARATOR.match(lines[i]):
                raise ValueError("%s: missing separator line" % where)
            i += 1
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                cells = split_cells(lines[i])
                lineno = i + 1
                i += 1
                try:
                    if cells is None or len(cells) != 6:
                        raise ValueError("expected 6 cells")
                    num = int(cells[0])
                    if num != len(rows) + 1:
                        raise ValueError("row number %d, expected %d" % (num, len(rows) + 1))
                    for c in cells[2:5]:
                        if not c or "\t" in c:
                            raise ValueError("empty cell or TAB in a cell")
                    rows.append((name, str(num), clean_states(cells[1]), cells[2], cells[3], cells[4],
                                 clean_action(cells[5])))
                except ValueError as e:
                    raise ValueError("%s:%d: %s" % (path, lineno, e)) from None
            if len(rows) != count:
                raise ValueError("%s: %d rows, the heading announces %d" % (where, len(rows), count))
            if any(t == name for t, _ in tables):
                raise ValueError("%s: table given twice" % where)
            tables.append((name, rows))
    return tables


def main():
    ap = argparse.ArgumentParser(description="State tables from Markdown to TSV")
    ap.add_argument("files", nargs="+")
    ap.add_argument("-o", "--output")
    args = ap.parse_args()
    try:
        tables = extract(args.files)
    except (OSError, ValueError) as e:
        print("extract_state_tables: %s" % e, file=sys.stderr)
        return 1
    if not tables:
        print("extract_state_tables: no state table found", file=sys.stderr)
        return 1
    text = "".join("\t".join(r) + "\n" for _, rows in tables for r in rows)
    if args.output:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
