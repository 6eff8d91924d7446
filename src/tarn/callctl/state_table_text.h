// The notation in which the state tables are written down, both ways: a
// compiled row printed back as text (the render test compares it with the
// reference TSV) and names read from a command line (the replay tool).
//
//   states     "ANY" or state names joined by " | "
//   event      "ANY", "SIP 200 nua_i_bye", "GENERAL GENERAL_EVENT_FINISH_CALL",
//              "SIP code 1002" (source, status when not 0, code name)
//   next state "(continue)", "(stay)" or a state name
//   out event  "—" (nothing), "EVENT_RELEASE", "16 EVENT_DISCONNECT"
//              (status when not 0, code name; no source)
//   action     "—" or the action's name
#pragma once
#include <cstdint>
#include <string>

#include "statemachine.h"
#include "state_tables.h"

// Name of one state bit in the set; null when the word is not one bit the
// set names.
const char *sm_text_state_bit(sm_state_set set, uint32_t bit);
// A row's state mask; a bit without a name shows as its hex value.
std::string sm_text_states(sm_state_set set, int32_t mask);
std::string sm_text_next_state(sm_state_set set, int32_t next);
std::string sm_text_event(int32_t event);
std::string sm_text_out_event(int32_t event);
std::string sm_text_action(statemachine_handle handle);
// One row in the TSV layout (without table and row number):
// states TAB event TAB next TAB out TAB action.
std::string sm_text_row(sm_state_set set, const statemachine_transition &row);

// Readers; 0 on success, -1 for text they do not know. A state is one name
// of the set or a number (decimal, or hex with 0x). An event is the table
// notation or a number. An out event is the out notation ("—" included) or
// a number.
int sm_parse_state(sm_state_set set, const char *text, int32_t *state);
int sm_parse_event(const char *text, int32_t *event);
int sm_parse_out_event(const char *text, int32_t *event);
