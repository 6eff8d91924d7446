// sm_replay: runs events through one of the call or registration state
// tables on the real engine and prints what the machine does. No action of
// the daemon runs: every row's action is replaced by a recorder that prints
// the row and the action's name and returns {-1, -1} (the row decides), or
// the result given with --result; outgoing events are printed, not sent.
//
//   sm_replay --table NAME --start STATE [--result ACTION=STATE,EVENT]... EVENT...
//
// EVENT is written as in the tables ("SIP 200 nua_i_bye", "GENERAL
// GENERAL_EVENT_FINISH_CALL", "SIP code 1002") or as a number. For
// --result, STATE is a state name or a number (-1 the row decides, -2 the
// row's next state, -3 keep the state), EVENT an outgoing event ("16
// EVENT_DISCONNECT", "—" for none) or a number (-1 the row's own).
//
// Per event it prints the event and the state it meets, one line per row
// that ran ("row N: action", "row N: —" for a row without action, "no row"
// when none matched), one line per outgoing event ("out ...") and the state
// after the run. A table,
// state, event or action it does not know ends it with a one-line error on
// standard error and exit status 2, before any event runs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "statemachine.h"
#include "state_table_actions.h"
#include "state_table_text.h"
#include "state_tables.h"

namespace {

constexpr int max_rows = 256; // more than the longest table

struct replay {
    const sm_table_info *table = nullptr;
    bool row_ran = false;
    std::map<std::string, statemachine_handle_retval> results; // by action name
};
replay run;

// What every row of the copied table calls: the row's number is the
// template argument, since the engine hands an action no row.
template <int Row> statemachine_handle_retval recorder(void *, void *, int32_t, int32_t)
{
    const statemachine_transition &row = run.table->rows[Row];
    const char *name = row.handle ? sm_action_name(row.handle) : nullptr;
    run.row_ran = true;
    printf("  row %d: %s\n", Row + 1, row.handle ? (name ? name : "(unlisted action)") : "—");
    if (name) {
        auto it = run.results.find(name);
        if (it != run.results.end())
            return it->second;
    }
    return {SM_NO_DECISION, SM_ROW_EVENT};
}

template <int... Rows> struct recorder_list {
    static constexpr statemachine_handle at[] = {&recorder<Rows>...};
};
template <int... Rows> constexpr const statemachine_handle *recorders(std::integer_sequence<int, Rows...>)
{
    return recorder_list<Rows...>::at;
}
const statemachine_handle *const row_recorders = recorders(std::make_integer_sequence<int, max_rows>{});

int32_t print_out_event(void *, void *, int32_t event)
{
    printf("  out %s\n", sm_text_out_event(event).c_str());
    return 0;
}

[[noreturn]] void fail(const std::string &message)
{
    fprintf(stderr, "sm_replay: %s\n", message.c_str());
    exit(2);
}

void usage()
{
    fail("usage: sm_replay --table NAME --start STATE [--result ACTION=STATE,EVENT]... EVENT...");
}

// "ACTION=STATE,EVENT"
void parse_result(const char *text)
{
    const char *eq = strchr(text, '=');
    const char *comma = eq ? strchr(eq + 1, ',') : nullptr;
    if (!eq || !comma)
        fail(std::string("--result wants ACTION=STATE,EVENT: '") + text + "'");
    std::string name(text, eq - text), state(eq + 1, comma - eq - 1), event(comma + 1);
    if (!sm_action_by_name(name.c_str()))
        fail("unknown action '" + name + "'");
    statemachine_handle_retval rv;
    if (sm_parse_state(run.table->states, state.c_str(), &rv.state) != 0)
        fail("unknown state '" + state + "' for table " + run.table->name);
    if (sm_parse_out_event(event.c_str(), &rv.event) != 0)
        fail("unknown outgoing event '" + event + "'");
    run.results[name] = rv;
}

} // namespace

int main(int argc, char **argv)
{
    const char *table = nullptr, *start = nullptr;
    std::vector<const char *> results, events;
    for (int i = 1; i < argc; i++) {
        auto value = [&](const char *opt) {
            if (i + 1 >= argc)
                fail(std::string(opt) + " wants a value");
            return argv[++i];
        };
        if (strcmp(argv[i], "--table") == 0)
            table = value("--table");
        else if (strcmp(argv[i], "--start") == 0)
            start = value("--start");
        else if (strcmp(argv[i], "--result") == 0)
            results.push_back(value("--result"));
        else if (strncmp(argv[i], "--", 2) == 0 && argv[i][2] != '\0')
            fail(std::string("unknown option '") + argv[i] + "'");
        else
            events.push_back(argv[i]);
    }
    if (!table || !start)
        usage();

    run.table = sm_table_by_name(table);
    if (!run.table)
        fail(std::string("unknown table '") + table + "'");
    if (run.table->num_rows > max_rows)
        fail(std::string("table ") + table + " has more rows than this tool records");
    int32_t state;
    if (sm_parse_state(run.table->states, start, &state) != 0)
        fail(std::string("unknown state '") + start + "' for table " + table);
    for (const char *r : results)
        parse_result(r);
    std::vector<int32_t> words;
    for (const char *e : events) {
        int32_t w;
        if (sm_parse_event(e, &w) != 0)
            fail(std::string("unknown event '") + e + "'");
        words.push_back(w);
    }

    // The table as compiled, each row's action replaced by its recorder (a
    // recorder that returns {-1, -1} is what a row without action does).
    std::vector<statemachine_transition> rows(run.table->rows, run.table->rows + run.table->num_rows);
    for (size_t i = 0; i < rows.size(); i++)
        rows[i].handle = row_recorders[i];
    statemachine *sm =
        statemachine_create(nullptr, state, rows.data(), (int32_t)rows.size(), print_out_event, nullptr);
    if (!sm)
        fail("cannot create the machine");

    for (int32_t w : words) {
        printf("%s in %s\n", sm_text_event(w).c_str(),
               sm_text_states(run.table->states, statemachine_get_state(sm)).c_str());
        run.row_ran = false;
        statemachine_run(sm, w, nullptr);
        if (!run.row_ran)
            printf("  no row\n");
        printf("  state %s\n", sm_text_states(run.table->states, statemachine_get_state(sm)).c_str());
    }
    statemachine_destroy(sm);
    return 0;
}
