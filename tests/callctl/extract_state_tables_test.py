#!/usr/bin/env python3
"""The state table extraction on small Markdown texts: the TSV it writes, and
the damaged tables it refuses (exit status 1, a line naming the place)."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "extract_state_tables.py")

GOOD = """\
Some text before.

Table `state_tab_demo` (3 rows):

| # | State | Event | Next state | Outgoing event | Action |
|---|---|---|---|---|---|
| 1 | SM_SIP_INVITE_RECEIVED \\| SM_ISDN_RINGING | ISDN EVENT_CONNECT | SM_CALL_ACTIVE | EVENT_CONNECT_ACKNOWLEDGE | `sm_call_set_connected` |
| 2 | SM_CALL_ACTIVE | SIP 200 nua_i_bye | (continue) | 16 EVENT_DISCONNECT | — |
| 3 | ANY | ANY | (stay) | — | `sm_call_list_unhandled` |

**Next section**

Table `state_tab_other` (1 rows):

| # | State | Event | Next state | Outgoing event | Action |
|---|---|---|---|---|---|
| 1 | SM_INACTIVE | SIP code 1002 | (stay) | — | — |
"""

EXPECTED = (
    "demo\t1\tSM_SIP_INVITE_RECEIVED | SM_ISDN_RINGING\tISDN EVENT_CONNECT\tSM_CALL_ACTIVE\t"
    "EVENT_CONNECT_ACKNOWLEDGE\tsm_call_set_connected\n"
    "demo\t2\tSM_CALL_ACTIVE\tSIP 200 nua_i_bye\t(continue)\t16 EVENT_DISCONNECT\t—\n"
    "demo\t3\tANY\tANY\t(stay)\t—\tsm_call_list_unhandled\n"
    "other\t1\tSM_INACTIVE\tSIP code 1002\t(stay)\t—\t—\n"
)


def run(text):
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "tables.md")
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        p = subprocess.run([sys.executable, SCRIPT, path], capture_output=True, text=True)
        return p.returncode, p.stdout, p.stderr


class Extract(unittest.TestCase):
    def test_rows_as_tsv(self):
        rc, out, err = run(GOOD)
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(out, EXPECTED)

    def test_damaged_tables_are_refused(self):
        cases = [
            ("(3 rows)", "(4 rows)", "3 rows, the heading announces 4"),
            ("| 2 | SM_CALL_ACTIVE", "| 5 | SM_CALL_ACTIVE", "row number 5, expected 2"),
            ("`sm_call_set_connected`", "sm_call_set_connected", "action is not one name"),
            ("| (stay) | — | — |", "| (stay) | — |", "expected 6 cells"),
            ("| SM_INACTIVE |", "| SM_INACTIVE, SM_CALL_ACTIVE |", "not a state name"),
            ("state_tab_other", "state_tab_demo", "table given twice"),
        ]
        for old, new, message in cases:
            with self.subTest(message):
                self.assertIn(old, GOOD)
                rc, out, err = run(GOOD.replace(old, new, 1))
                self.assertEqual(rc, 1)
                self.assertEqual(out, "")
                self.assertIn(message, err)
                self.assertEqual(err.count("\n"), 1, err)

    def test_no_table_is_an_error(self):
        rc, _, err = run("nothing here\n")
        self.assertEqual(rc, 1)
        self.assertIn("no state table found", err)


if __name__ == "__main__":
    unittest.main()
