#!/usr/bin/env python3
"""Writes src/tarn/callctl/state_tables.cpp from the reference rows in
tests/callctl/data/state_tables.tsv (the output of extract_state_tables.py).

Each row becomes one source line with its row number beside it, written with
the names of the event and state enumerations; the render test prints the
compiled tables back and compares them with the same TSV.

Usage: gen_state_tables.py [TSV] [-o OUT.cpp]   (defaults: the paths above)
"""
import argparse
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# name, rows, state set, what the machine carries
TABLES = [
    ("sip_to_isdn", 118, "SM_SET_ISDN", "a call that arrives by SIP and leaves on an ISDN port"),
    ("isdn_to_sip", 224, "SM_SET_ISDN", "a call that arrives on an ISDN port and leaves by SIP"),
    ("sip_to_fxs", 79, "SM_SET_FXS", "SIP to an analog FXS port (a telephone rings)"),
    ("fxs_to_sip", 119, "SM_SET_FXS", "an analog FXS port to SIP (a telephone dials)"),
    ("sip_to_fxo", 86, "SM_SET_FXO", "SIP to an analog FXO port (the gateway seizes an exchange line)"),
    ("fxo_to_sip", 103, "SM_SET_FXO", "an analog FXO port to SIP (the exchange rings the gateway)"),
    ("sip_to_cas_fxo", 87, "SM_SET_CAS", "SIP to a CAS channel in the FXO role or with MFC/R2"),
    ("sip_to_cas_fxs", 51, "SM_SET_CAS", "SIP to a CAS channel in the FXS role"),
    ("cas_fxo_to_sip", 104, "SM_SET_CAS", "a CAS channel in the FXO role or with MFC/R2 to SIP"),
    ("cas_fxs_to_sip", 78, "SM_SET_CAS", "a CAS channel in the FXS role to SIP"),
    ("sip_to_gsm", 67, "SM_SET_GSM", "SIP to a GSM or LTE modem port"),
    ("gsm_to_sip", 79, "SM_SET_GSM", "a GSM or LTE modem port to SIP"),
    ("sip_to_sip", 123, "SM_SET_COMMON", "a call between two SIP dialogs"),
    ("sipreg", 42, "SM_SET_REG", "one outgoing registration or peer validation"),
    ("sipcleanup", 6, "SM_SET_COMMON", "a SIP dialog whose call object is gone, until its BYE is answered"),
    ("sip_to_itapi", 20, "SM_SET_ITAPI", "SIP to a console-driven telephony client connection"),
    ("telnet_to_isdn", 25, "SM_SET_ISDN", "a call that the console places on an ISDN port"),
]

SOURCES = {"ISDN": "isdn", "SIP": "sip", "TIMER": "timer", "GENERAL": "general", "GSM": "gsm",
           "ANALOG": "analog", "CAS": "cas"}
WITH_STATUS = {"isdn", "sip"}  # the other sources carry status 0
NAME = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")


class Bad(Exception):
    pass


def ident(s):
    if not NAME.match(s):
        raise Bad("not a name: %r" % s)
    return s


def states(cell):
    if cell == "ANY":
        return "SM_ANY"
    names = [ident(s) for s in cell.split(" | ")]
    return names[0] if len(names) == 1 else "states(%s)" % ", ".join(names)


def code(name):
    return "SIP_EVENT_183_WAIT_FOR_CANCEL" if name == "code 1002" else ident(name)


def event(cell):
    if cell == "ANY":
        return "SM_ANY"
    m = re.match(r"^(\w+) (?:(\d+) )?(code \d+|\w+)$", cell)
    if not m or m.group(1) not in SOURCES:
        raise Bad("event %r" % cell)
    src, status, name = SOURCES[m.group(1)], m.group(2) or "0", code(m.group(3))
    if src in WITH_STATUS:
        return "sm_%s(%s, %s)" % (src, status, name)
    if status != "0":
        raise Bad("event %r: this source carries no status" % cell)
    return "sm_%s(%s)" % (src, name)


def next_state(cell):
    return {"(continue)": "SM_NEXT_ROW", "(stay)": "SM_KEEP_STATE"}.get(cell) or states(cell)


def out_event(cell):
    if cell == "—":
        return "SM_NO_EVENT"
    m = re.match(r"^(?:(\d+) )?(\w+)$", cell)
    if not m:
        raise Bad("outgoing event %r" % cell)
    return "sm_out(%s, %s)" % (m.group(1) or "0", ident(m.group(2)))


def action(cell):
    return "nullptr" if cell == "—" else ident(cell)


HEAD = """\
// The seventeen call and registration state tables, one line per row with
// the row's number beside it. Rows are tried from the first; the engine
// (statemachine.h) runs every row whose state mask and event match the
// state the run began in, until a row names a state or (stay).
//
//   ANY -4 (SM_ANY), (continue) -2 (SM_NEXT_ROW), (stay) -3 (SM_KEEP_STATE),
//   no outgoing event -3 (SM_NO_EVENT), no action nullptr.
//
// Incoming events carry their source (sm_sip(200, nua_i_bye)); outgoing
// events carry none (sm_out(16, EVENT_DISCONNECT): the cause to send, then
// the message).
//
// Written by scripts/gen_state_tables.py from tests/callctl/data/state_tables.tsv;
// the render test prints every compiled row back and compares it with that
// file. Keep every row as it stands, also those that an earlier row always
// takes: they are part of the reference.
#include "state_tables.h"

#include <cstring>
#include <iterator>

#include "sm_events.h"
#include "state_table_actions.h"

namespace {

// A mask of several states.
template <typename... S> constexpr int32_t states(S... s)
{
    return (int32_t)(0u | ... | (uint32_t)s);
}

// clang-format off
"""


def generate(tsv_path):
    rows = {}
    order = []
    with open(tsv_path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            cells = line.rstrip("\n").split("\t")
            if len(cells) != 7:
                raise Bad("%s:%d: expected 7 fields" % (tsv_path, lineno))
            t = cells[0]
            if t not in rows:
                rows[t] = []
                order.append(t)
            if int(cells[1]) != len(rows[t]) + 1:
                raise Bad("%s:%d: row number out of order" % (tsv_path, lineno))
            try:
                rows[t].append("{%s, %s, %s, %s, %s}" % (states(cells[2]), event(cells[3]),
                                                        next_state(cells[4]), out_event(cells[5]),
                                                        action(cells[6])))
            except Bad as e:
                raise Bad("%s:%d: %s" % (tsv_path, lineno, e)) from None
    if order != [t[0] for t in TABLES]:
        raise Bad("tables in the TSV: %s" % ", ".join(order))
    out = [HEAD]
    for name, count, _, what in TABLES:
        if len(rows[name]) != count:
            raise Bad("table %s has %d rows, expected %d" % (name, len(rows[name]), count))
        out.append("// %s: %s.\n" % (name, what))
        out.append("constexpr statemachine_transition state_tab_%s[] = {\n" % name)
        width = len(str(count))
        for i, r in enumerate(rows[name], 1):
            out.append("    /* %*d */ %s,\n" % (width, i, r))
        out.append("};\n")
        out.append('static_assert(std::size(state_tab_%s) == %d, "%s: %d rows");\n\n' % (name, count, name, count))
    out.append("// clang-format on\n\n"
               "// A machine over a whole table, with no log function.\n"
               "template <size_t N>\n"
               "statemachine *machine_over(const statemachine_transition (&rows)[N], void *priv, int state,\n"
               "                           statemachine_send_event send_event)\n"
               "{\n"
               "    return statemachine_create(priv, state, rows, (int32_t)N, send_event, nullptr);\n"
               "}\n\n"
               "} // namespace\n\n")
    for name, _, _, _ in TABLES:
        out.append("statemachine *create_statemachine_%s(void *priv, int state, statemachine_send_event send_event)\n"
                   "{\n"
                   "    return machine_over(state_tab_%s, priv, state, send_event);\n"
                   "}\n\n" % (name, name))
    out.append("const sm_table_info sm_tables[] = {\n")
    for name, _, sset, _ in TABLES:
        out.append("    {\"%s\", state_tab_%s, (int32_t)std::size(state_tab_%s), %s, create_statemachine_%s},\n"
                   % (name, name, name, sset, name))
    out.append("};\n")
    out.append("const int sm_tables_count = (int)std::size(sm_tables);\n")
    out.append('static_assert(std::size(sm_tables) == %d, "every table");\n\n' % len(TABLES))
    out.append("const sm_table_info *sm_table_by_name(const char *name)\n"
               "{\n"
               "    if (name)\n"
               "        for (const sm_table_info &t : sm_tables)\n"
               "            if (strcmp(t.name, name) == 0)\n"
               "                return &t;\n"
               "    return nullptr;\n"
               "}\n")
    return "".join(out)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tsv", nargs="?", default=os.path.join(ROOT, "tests/callctl/data/state_tables.tsv"))
    ap.add_argument("-o", "--output", default=os.path.join(ROOT, "src/tarn/callctl/state_tables.cpp"))
    args = ap.parse_args()
    try:
        text = generate(args.tsv)
    except (OSError, Bad, ValueError) as e:
        print("gen_state_tables: %s" % e, file=sys.stderr)
        return 1
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
