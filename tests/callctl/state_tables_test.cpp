// The compiled state tables against their reference rows: every row printed
// back in the reference notation (state and event names, the action's name)
// and compared with tests/callctl/data/state_tables.tsv; the list of
// actions; the constructors.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "debug_lines.h"
#include "sm_events.h"
#include "state_table_actions.h"
#include "state_table_text.h"
#include "state_tables.h"

namespace {

struct ref_row {
    std::string table;
    int row;
    std::string text; // states TAB event TAB next TAB out TAB action
};

std::vector<ref_row> reference()
{
    std::ifstream in(TARN_SOURCE_DIR "/tests/callctl/data/state_tables.tsv");
    std::vector<ref_row> rows;
    std::string line;
    while (std::getline(in, line)) {
        size_t a = line.find('\t'), b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos) {
            ADD_FAILURE() << "reference line without table and row: " << line;
            continue;
        }
        rows.push_back({line.substr(0, a), atoi(line.substr(a + 1, b - a - 1).c_str()), line.substr(b + 1)});
    }
    return rows;
}

// One line per difference between the compiled tables and the reference
// rows of the same tables, each naming the table and the row.
std::vector<std::string> differences(const std::vector<sm_table_info> &tables, const std::vector<ref_row> &ref)
{
    std::vector<std::string> out;
    for (const sm_table_info &t : tables) {
        std::vector<const ref_row *> want;
        for (const ref_row &r : ref)
            if (r.table == t.name)
                want.push_back(&r);
        if ((int)want.size() != t.num_rows)
            out.push_back("table " + std::string(t.name) + ": " + std::to_string(t.num_rows) +
                          " rows compiled, " + std::to_string(want.size()) + " in the reference");
        for (int i = 0; i < t.num_rows && i < (int)want.size(); i++) {
            std::string got = sm_text_row(t.states, t.rows[i]);
            if (want[i]->row != i + 1 || got != want[i]->text)
                out.push_back("table " + std::string(t.name) + " row " + std::to_string(i + 1) +
                              ":\n  reference " + want[i]->text + "\n  compiled  " + got);
        }
    }
    return out;
}

std::vector<sm_table_info> all_tables()
{
    return std::vector<sm_table_info>(sm_tables, sm_tables + sm_tables_count);
}

TEST(StateTables, EveryRowMatchesTheReference)
{
    std::vector<ref_row> ref = reference();
    ASSERT_EQ(ref.size(), 1411u);
    for (const std::string &d : differences(all_tables(), ref))
        ADD_FAILURE() << d;

    // The same tables in the same order, none left out.
    std::vector<std::string> ref_order, compiled;
    for (const ref_row &r : ref)
        if (ref_order.empty() || ref_order.back() != r.table)
            ref_order.push_back(r.table);
    int total = 0;
    for (const sm_table_info &t : all_tables()) {
        compiled.push_back(t.name);
        total += t.num_rows;
    }
    EXPECT_EQ(compiled, ref_order);
    EXPECT_EQ(total, 1411);
}

// The comparison itself: one changed action, state bit, event status or
// cause in any table is found and named by its table and row.
TEST(StateTables, OneChangedValueIsNamedByTableAndRow)
{
    std::vector<ref_row> ref = reference();
    enum change { ACTION, STATE_BIT, EVENT_STATUS, CAUSE, NEXT_STATE };
    for (const sm_table_info &t : all_tables()) {
        for (change c : {ACTION, STATE_BIT, EVENT_STATUS, CAUSE, NEXT_STATE}) {
            std::vector<statemachine_transition> rows(t.rows, t.rows + t.num_rows);
            int at = (t.num_rows * (1 + (int)c)) / 7; // spread over the table
            statemachine_transition &r = rows[at];
            switch (c) {
            case ACTION:
                r.handle = r.handle == sm_actions[0].handle ? sm_actions[1].handle : sm_actions[0].handle;
                break;
            case STATE_BIT:
                r.state = r.state == SM_ANY ? SM_INACTIVE : (int32_t)((uint32_t)r.state ^ 0x4);
                break;
            case EVENT_STATUS:
                r.event = r.event == SM_ANY ? sm_sip(200, nua_i_bye) : r.event + (1 << 16);
                break;
            case CAUSE:
                r.event_out = r.event_out == SM_NO_EVENT ? sm_out(16, EVENT_DISCONNECT) : r.event_out + (1 << 16);
                break;
            case NEXT_STATE:
                r.state_next = r.state_next == SM_NEXT_ROW ? SM_KEEP_STATE : SM_NEXT_ROW;
                break;
            }
            sm_table_info changed = t;
            changed.rows = rows.data();
            std::vector<std::string> d = differences({changed}, ref);
            std::string where = "table " + std::string(t.name) + " row " + std::to_string(at + 1) + ":";
            ASSERT_EQ(d.size(), 1u) << where << " change " << c;
            EXPECT_EQ(d[0].rfind(where, 0), 0u) << d[0];
        }
    }
}

TEST(StateTables, ActionListNamesEachActionOnceAndEveryOneIsUsed)
{
    ASSERT_EQ(sm_actions_count, 227);
    std::set<std::string> names;
    std::set<statemachine_handle> handles;
    for (int i = 0; i < sm_actions_count; i++) {
        EXPECT_TRUE(names.insert(sm_actions[i].name).second) << sm_actions[i].name;
        EXPECT_TRUE(handles.insert(sm_actions[i].handle).second) << sm_actions[i].name;
        EXPECT_EQ(sm_action_name(sm_actions[i].handle), std::string(sm_actions[i].name));
        EXPECT_EQ(sm_action_by_name(sm_actions[i].name), sm_actions[i].handle);
    }
    std::set<statemachine_handle> used;
    for (const sm_table_info &t : all_tables())
        for (int i = 0; i < t.num_rows; i++)
            if (t.rows[i].handle)
                used.insert(t.rows[i].handle);
    EXPECT_EQ(used, handles);
    EXPECT_EQ(sm_action_name(nullptr), nullptr);
    EXPECT_EQ(sm_action_by_name("sm_no_such_action"), nullptr);

    // The catch-all actions are built from the start; the spelling of the
    // FXS hold check is the tables' own.
    EXPECT_NE(sm_action_by_name("sm_fsx_check_if_hold"), nullptr);
    int built = 0;
    for (int i = 0; i < sm_actions_count; i++) {
        built += sm_actions[i].built;
        std::string name = sm_actions[i].name;
        if (name == "sm_call_list_unhandled" || name == "sm_reg_list_unhandled_reg") {
            EXPECT_TRUE(sm_actions[i].built) << name;
        }
    }
    EXPECT_EQ(sm_actions_not_built_count(), sm_actions_count - built);
    // Call control is complete: no placeholder is left.
    EXPECT_EQ(sm_actions_not_built_count(), 0);
}

// The SIP-to-ISDN, ISDN-to-SIP, SIP-to-SIP, registration and clean-up
// machines are complete: none of their rows reaches a placeholder.
TEST(StateTables, SipAndIsdnMachinesHaveEveryActionBuilt)
{
    for (const char *name : {"sip_to_isdn", "isdn_to_sip", "sip_to_sip", "sipreg", "sipcleanup"}) {
        const sm_table_info *t = sm_table_by_name(name);
        ASSERT_NE(t, nullptr) << name;
        for (int i = 0; i < t->num_rows; i++) {
            statemachine_handle h = t->rows[i].handle;
            if (!h)
                continue;
            const sm_action_entry *entry = nullptr;
            for (int a = 0; a < sm_actions_count && !entry; a++)
                if (sm_actions[a].handle == h)
                    entry = &sm_actions[a];
            ASSERT_NE(entry, nullptr) << name << " row " << i + 1;
            EXPECT_TRUE(entry->built) << name << " row " << i + 1 << ": " << entry->name;
        }
    }
}

// An action not built yet says so once per run and lets the row decide.
TEST(StateTables, ActionNotBuiltLogsOnceAndLetsTheRowDecide)
{
    const sm_action_entry *placeholder = nullptr;
    for (int i = 0; i < sm_actions_count && !placeholder; i++)
        if (!sm_actions[i].built)
            placeholder = &sm_actions[i];
    if (!placeholder)
        GTEST_SKIP() << "every action is built";
    debug_lines log({TARN});
    for (int i = 0; i < 3; i++) {
        statemachine_handle_retval rv = placeholder->handle(nullptr, nullptr, SM_CALL_ACTIVE, sm_sip(200, nua_i_bye));
        EXPECT_EQ(rv.state, SM_NO_DECISION);
        EXPECT_EQ(rv.event, SM_ROW_EVENT);
    }
    std::string line = "CRITICAL: action " + std::string(placeholder->name) + " not built";
    EXPECT_EQ(log.count(line), 1) << line;
}

int32_t no_send(void *, void *, int32_t) { return 0; }

TEST(StateTables, ConstructorsMakeAMachineOverTheirTable)
{
    int owner = 0;
    for (int i = 0; i < sm_tables_count; i++) {
        const sm_table_info &t = sm_tables[i];
        SCOPED_TRACE(t.name);
        int32_t start = t.states == SM_SET_REG ? (int32_t)SM_SIP_WAITING_FOR_SLOT : (int32_t)SM_SIP_INVITE_RECEIVED;
        statemachine *sm = t.create(&owner, start, no_send);
        ASSERT_NE(sm, nullptr);
        EXPECT_EQ(statemachine_get_state(sm), start);
        EXPECT_EQ(statemachine_get_table(sm), t.rows);
        EXPECT_EQ(sm->num_rows, t.num_rows);
        EXPECT_EQ(statemachine_get_priv(sm), &owner);
        EXPECT_EQ(sm->send_event, no_send);
        EXPECT_EQ(sm->log_event, nullptr);
        statemachine_destroy(sm);
        EXPECT_EQ(sm_table_by_name(t.name), &t);
    }
    EXPECT_EQ(sm_table_by_name("nosuch"), nullptr);
    EXPECT_EQ(sm_tables[13].create, create_statemachine_sipreg);
}

// The notation reads back what it writes.
TEST(StateTables, NotationReadsBackWhatItWrites)
{
    struct {
        const char *text;
        int32_t word;
    } events[] = {
        {"SIP 200 nua_i_bye", 0x10c80009},
        {"GENERAL GENERAL_EVENT_FINISH_CALL", 0x30001002},
        {"SIP code 1002", 0x100003ea},
        {"ISDN 99 EVENT_SETUP", 0x00630208},
        {"TIMER T_EVENT_REG_REFRESH", 0x20000401},
        {"SIP 408 nua_r_register", 0x1198001d},
        {"GENERAL ANALOG_EVENT_MESSAGE_WAITING_DELIVERED", 0x3000200d},
        {"GSM GSM_EVENT_TYPE_CLIP", 0x40004023},
        {"CAS CAS_EVENT_SEIZE", 0x60008011},
        {"ANY", SM_ANY},
    };
    for (const auto &e : events) {
        int32_t w = 0;
        EXPECT_EQ(sm_parse_event(e.text, &w), 0) << e.text;
        EXPECT_EQ(w, e.word) << e.text;
        EXPECT_EQ(sm_text_event(e.word), e.text);
    }
    for (const char *bad : {"", "SIP", "SIP nua_i_nothing", "SIP 99999 nua_i_bye", "NOSRC EVENT_SETUP",
                            "SIP 200 nua_i_bye extra"}) {
        int32_t w;
        EXPECT_EQ(sm_parse_event(bad, &w), -1) << bad;
    }
    int32_t out = 0;
    EXPECT_EQ(sm_parse_out_event("16 EVENT_DISCONNECT", &out), 0);
    EXPECT_EQ(out, sm_out(16, EVENT_DISCONNECT));
    EXPECT_EQ(sm_text_out_event(out), "16 EVENT_DISCONNECT");
    EXPECT_EQ(sm_parse_out_event("—", &out), 0);
    EXPECT_EQ(out, SM_NO_EVENT);
    // An outgoing event that carries a source shows it.
    EXPECT_EQ(sm_text_out_event(sm_sip(16, EVENT_DISCONNECT)), "SIP 16 EVENT_DISCONNECT");

    int32_t s = 0;
    EXPECT_EQ(sm_parse_state(SM_SET_CAS, "SM_CAS_MESSAGE_WAITING", &s), 0);
    EXPECT_EQ((uint32_t)s, 0x80000000u);
    EXPECT_EQ(sm_parse_state(SM_SET_ISDN, "SM_CAS_RINGING", &s), -1); // not this kind's state
    EXPECT_EQ(sm_parse_state(SM_SET_REG, "SM_SIP_WAITING_FOR_SLOT", &s), 0);
    EXPECT_EQ(s, SM_SIP_WAITING_FOR_SLOT);
    EXPECT_EQ(sm_text_states(SM_SET_ISDN, SM_SIP_INVITE_RECEIVED | 0x10000), "SM_SIP_INVITE_RECEIVED | SM_ISDN_RINGING");
    EXPECT_EQ(sm_text_states(SM_SET_GSM, 0x8000), "0x8000"); // bit 15 names nothing
}

} // namespace
