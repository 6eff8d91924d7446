// Names of CAS events, states, directions, signalling types, protocols, MF
// signals and ABCD patterns.
#include "t1e1casctl.h"

#include <cstring>

namespace {

struct event_text {
    int event;
    const char *text;
};

// Events without a row here have no text of their own.
const event_text event_texts[] = {
    {CAS_EVENT_UNKNOWN, "CAS_EVENT_UNKNOWN"},
    {CAS_EVENT_OFFHOOK, "CAS_EVENT_OFFHOOK"},
    {CAS_EVENT_ONHOOK, "CAS_EVENT_ONHOOK"},
    {CAS_EVENT_RINGING, "CAS_EVENT_RINGING"},
    {CAS_EVENT_IDLE, "CAS_EVENT_IDLE"},
    {CAS_EVENT_RINGOFF, "CAS_EVENT_RINGOFF"},
    {CAS_EVENT_SEIZE, "CAS_EVENT_SEIZE"},
    {CAS_EVENT_SEIZE_ACKNOWLEDGE, "CAS_EVENT_SEIZE_ACKNOWLEDGE"},
    {CAS_EVENT_DIAL_OUTBOUND, "CAS_EVENT_DIAL_OUTBOUND"},
    {CAS_EVENT_MFDIAL_FINISHED, "CAS_EVENT_MFDIAL_FINISHED"},
    {CAS_EVENT_MFBUSY, "CAS_EVENT_MFBUSY"},
    {CAS_EVENT_GENERATE_CID, "CAS_EVENT_GENERATE_CID"},
};

const char *const state_names[] = {
    "CAS_STATE_UNKNOWN",           "CAS_STATE_E1_IDLE",
    "CAS_STATE_E1_SEIZE",          "CAS_STATE_E1_SEIZE_ACKNOWLEDGED",
    "CAS_STATE_E1_CONNECTED",      "CAS_STATE_T1_IDLE",
    "CAS_STATE_T1_RINGING_INBOUND", "CAS_STATE_T1_RINGING_OUTBOUND",
    "CAS_STATE_T1_OFFHOOK",
};

const char *const direction_names[] = {"NONE", "INBOUND", "OUTBOUND", "FORWARD", "BACKWARD"};

// By value 0..70; the printed name differs from the enumerator for the
// forward B11..B15 spares (36-40) and the backward A10 spare (50).
const char *const mf_names[] = {
    "MF_SIGNAL_SPECIAL_SMEVENT",
    "MF_SIGNAL_FORWARD_INT_A1_FRENCH",
    "MF_SIGNAL_FORWARD_INT_A2_ENGLISH",
    "MF_SIGNAL_FORWARD_INT_A3_GERMAN",
    "MF_SIGNAL_FORWARD_INT_A4_RUSSIAN",
    "MF_SIGNAL_FORWARD_INT_A5_SPANISH",
    "MF_SIGNAL_FORWARD_INT_A10_DISCRIMINATING",
    "MF_SIGNAL_FORWARD_INT_A11_COUNTRY_CODE_INDICATOR_HALF_ECHO_SUPPRESSOR_REQUIRED",
    "MF_SIGNAL_FORWARD_INT_A12_COUNTRY_CODE_INDICATOR_NO_ECHO_SUPPRESSOR_REQUIRED",
    "MF_SIGNAL_FORWARD_INT_A13_TEST_CALL_INDICATOR",
    "MF_SIGNAL_FORWARD_INT_A14_COUNTRY_CODE_INDICATOR_HALF_ECHO_SUPPRESSOR_INSERTED",
    "MF_SIGNAL_FORWARD_A1_DIGIT_1",
    "MF_SIGNAL_FORWARD_A2_DIGIT_2",
    "MF_SIGNAL_FORWARD_A3_DIGIT_3",
    "MF_SIGNAL_FORWARD_A4_DIGIT_4",
    "MF_SIGNAL_FORWARD_A5_DIGIT_5",
    "MF_SIGNAL_FORWARD_A6_DIGIT_6",
    "MF_SIGNAL_FORWARD_A7_DIGIT_7",
    "MF_SIGNAL_FORWARD_A8_DIGIT_8",
    "MF_SIGNAL_FORWARD_A9_DIGIT_9",
    "MF_SIGNAL_FORWARD_A10_DIGIT_0",
    "MF_SIGNAL_FORWARD_A11_DONT_KNOW",
    "MF_SIGNAL_FORWARD_A12_DONT_KNOW",
    "MF_SIGNAL_FORWARD_A13_DONT_KNOW",
    "MF_SIGNAL_FORWARD_A14_DONT_KNOW",
    "MF_SIGNAL_FORWARD_A15_END_OF_PULSING",
    "MF_SIGNAL_FORWARD_B1_SUBSCRIBER_WITHOUT_PRIORITY",
    "MF_SIGNAL_FORWARD_B2_SUBSCRIBER_WITH_PRIORITY",
    "MF_SIGNAL_FORWARD_B3_MAINTENANCE_EQUIPMENT",
    "MF_SIGNAL_FORWARD_B4_SPARE",
    "MF_SIGNAL_FORWARD_B5_OPERATOR",
    "MF_SIGNAL_FORWARD_B6_DATA_TRANSMISSION",
    "MF_SIGNAL_FORWARD_B7_SUBSCRIBER_INTERNATIONAL",
    "MF_SIGNAL_FORWARD_B8_DATA_TRANSMISSION_INTERNATIONAL",
    "MF_SIGNAL_FORWARD_B9_SUBSCRIBER_WITH_PRIORITY_INTERNATIONAL",
    "MF_SIGNAL_FORWARD_B10_OPERATOR_WITH_FORWARD_TRANSFER_FACILITY",
    "MF_SIGNAL_FORWARD_11_SPARE",
    "MF_SIGNAL_FORWARD_12_SPARE",
    "MF_SIGNAL_FORWARD_13_SPARE",
    "MF_SIGNAL_FORWARD_14_SPARE",
    "MF_SIGNAL_FORWARD_15_SPARE",
    "MF_SIGNAL_BACKWARD_A1_SEND_NEXT_DIGIT",
    "MF_SIGNAL_BACKWARD_A2_SEND_LAST_BUT_ONE_DIGIT",
    "MF_SIGNAL_BACKWARD_A3_ADDRESS_COMPLETE_CONTINUE_WITH_GROUP_B",
    "MF_SIGNAL_BACKWARD_A4_CONGESTION",
    "MF_SIGNAL_BACKWARD_A5_SEND_CALLING_PARTY_CATEGORY",
    "MF_SIGNAL_BACKWARD_A6_ADDRESS_COMPLETE_SETUP_SPEECH",
    "MF_SIGNAL_BACKWARD_A7_SEND_LAST_BUT_TWO_DIGITS",
    "MF_SIGNAL_BACKWARD_A8_SEND_LAST_BUT_THREE_DIGITS",
    "MF_SIGNAL_BACKWARD_A9_SPARE",
    "MF_SIGNAL_BACKWARD_A10_SPAREs",
    "MF_SIGNAL_BACKWARD_A11_SEND_COUNTRY_CODE_INDICATOR",
    "MF_SIGNAL_BACKWARD_A12_SEND_LANGUAGE_OR_DISCRIMINATION_DIGIT",
    "MF_SIGNAL_BACKWARD_A13_SEND_NATURE_OF_CIRCUIT",
    "MF_SIGNAL_BACKWARD_A14_REQUEST_ECHO_SUPPRESSOR_INFORMATION",
    "MF_SIGNAL_BACKWARD_A15_CONGESTION_IN_INTERNATIONAL_EXCHANGE",
    "MF_SIGNAL_BACKWARD_B1_SPARE_FOR_NATIONAL_USE",
    "MF_SIGNAL_BACKWARD_B2_SEND_SPECIAL_INFORMATION_TONE",
    "MF_SIGNAL_BACKWARD_B3_SUBSCRIBER_LINE_BUSY",
    "MF_SIGNAL_BACKWARD_B4_CONGESTION_AFTER_CHANGEOVER",
    "MF_SIGNAL_BACKWARD_B5_UNALLOCATED_NUMBER",
    "MF_SIGNAL_BACKWARD_B6_SUBSCRIBERS_LINE_FREE_CHARGE",
    "MF_SIGNAL_BACKWARD_B7_SUBSCRIBERS_LINE_FREE_NOCHARGE",
    "MF_SIGNAL_BACKWARD_B8_SUBSCRIBERS_LINE_OUT_OF_ORDER",
    "MF_SIGNAL_BACKWARD_B9_SPARE",
    "MF_SIGNAL_BACKWARD_B10_SPARE",
    "MF_SIGNAL_BACKWARD_B11_SPARE",
    "MF_SIGNAL_BACKWARD_B12_SPARE",
    "MF_SIGNAL_BACKWARD_B13_SPARE",
    "MF_SIGNAL_BACKWARD_B14_SPARE",
    "MF_SIGNAL_BACKWARD_B15_SPARE",
};
static_assert(sizeof mf_names / sizeof mf_names[0] == MF_SIGNAL_BACKWARD_B15_SPARE + 1);

const char *const pattern_texts[] = {
    "9999", "0000", "0001", "0010", "0011", "0100", "0101", "0110", "0111",
    "1000", "1001", "1010", "1011", "1100", "1101", "1110", "1111",
};

} // namespace

const char *cas_event_to_text(void *, int event)
{
    for (const event_text &e : event_texts)
        if (e.event == event)
            return e.text;
    return "CAS_EVENT_UNKNOWN";
}

const char *cas_print_port_state(int state)
{
    if (state < 0 || state >= (int)(sizeof state_names / sizeof state_names[0]))
        return "CAS_STATE_REALLY_UNKNOWN";
    return state_names[state];
}

const char *cas_print_direction(int direction)
{
    if (direction < 0 || direction >= (int)(sizeof direction_names / sizeof direction_names[0]))
        return "UNKNOWN";
    return direction_names[direction];
}

const char *cas_print_protocol(int protocol)
{
    switch (protocol) {
    case HWCONF_ISDN_PROTOCOL_E1:
        return "E1";
    case HWCONF_ISDN_PROTOCOL_T1:
        return "T1";
    default:
        return "UNKNOWN";
    }
}

const char *cas_print_signalling(int signalling)
{
    switch (signalling) {
    case CAS_SIGNALLING_T1_FXSKS:
        return "FXS_KS";
    case CAS_SIGNALLING_T1_FXOKS:
        return "FXO_KS";
    case CAS_SIGNALLING_E1_MFCR2:
        return "MFCR2";
    default:
        return "UNKNOWN";
    }
}

const char *cas_print_mf_signal(int signal)
{
    if (signal < 0 || signal > MF_SIGNAL_BACKWARD_B15_SPARE)
        return "MF_SIGNAL_UNKNOWN";
    return mf_names[signal];
}

int cas_pattern_of(const char *line)
{
    if (!line || strlen(line) != 4)
        return CAS_PATTERN_UNDEFINED;
    int v = 0;
    for (int i = 0; i < 4; i++) {
        if (line[i] != '0' && line[i] != '1')
            return CAS_PATTERN_UNDEFINED;
        v = v * 2 + (line[i] - '0');
    }
    return v + 1;
}

const char *cas_pattern_text(int pattern)
{
    if (pattern < CAS_PATTERN_UNDEFINED || pattern > CAS_PATTERN_1111)
        return pattern_texts[0];
    return pattern_texts[pattern];
}
