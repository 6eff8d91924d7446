#include "state_table_text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "state_names.h"
#include "state_table_actions.h"

namespace {

const char *const no_value = "—";

// Event word fields: source in bits 28-31, status in 16-27, code in 0-15.
unsigned word_source(int32_t w) { return (uint32_t)w >> 28; }
unsigned word_status(int32_t w) { return ((uint32_t)w >> 16) & 0xfff; }
unsigned word_code(int32_t w) { return (uint32_t)w & 0xffff; }
int32_t make_word(unsigned source, unsigned status, unsigned code)
{
    return (int32_t)((source << 28) | (status << 16) | code);
}

const char *const source_names[] = {"ISDN", "SIP", "TIMER", "GENERAL", "GSM", "ANALOG", "CAS"};
constexpr unsigned source_count = sizeof source_names / sizeof source_names[0];

// The SIP code of the 183 answer with the wait-for-cancel header has no
// name of its own in the tables' notation.
constexpr unsigned wait_for_cancel_code = 1002;

// Code ranges with names (the gaps between them name nothing).
struct code_range {
    unsigned first, last;
};
const code_range named_codes[] = {
    {0, 56}, {512, 554}, {1024, 1054}, {4096, 4136}, {8192, 8211}, {16384, 16443}, {32768, 32790},
};

// Codes are written as the names of their enumerators. The event names of
// the logs spell the SIP stack's events in capitals (nua_i_state is
// "NUA_I_STATE").
constexpr unsigned last_sip_code = 56;

// The modem events likewise, where the logs use the modem library's short
// words.
constexpr unsigned first_gsm_code = EVENT_BASE_GSM_LIB;
constexpr unsigned gsm_codes = sizeof gsm_event_list / sizeof gsm_event_list[0];

std::string code_name(unsigned code)
{
    if (code >= first_gsm_code && code - first_gsm_code < gsm_codes)
        return gsm_event_list[code - first_gsm_code];
    std::string name = print_event((int)code);
    if (code <= last_sip_code)
        for (char &c : name)
            c = (char)tolower((unsigned char)c);
    return name;
}

std::string code_text(unsigned code)
{
    if (code == wait_for_cancel_code)
        return "code " + std::to_string(code);
    for (const code_range &r : named_codes)
        if (code >= r.first && code <= r.last)
            return code_name(code);
    return "code " + std::to_string(code);
}

// A state or event word given as a number (decimal, or hex with 0x).
bool parse_word(const char *text, int32_t *word)
{
    if (!*text)
        return false;
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(text, &end, 0);
    if (errno != 0 || *end != '\0' || v < INT32_MIN || v > (long long)UINT32_MAX)
        return false;
    *word = (int32_t)(uint32_t)v;
    return true;
}

bool parse_digits(const std::string &s, unsigned max, unsigned *out)
{
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long v = strtoul(s.c_str(), nullptr, 10);
    if (v > max)
        return false;
    *out = (unsigned)v;
    return true;
}

bool parse_code(const std::vector<std::string> &t, size_t i, unsigned *code)
{
    if (t.size() == i + 2 && t[i] == "code")
        return parse_digits(t[i + 1], 0xffff, code);
    if (t.size() != i + 1)
        return false;
    for (const code_range &r : named_codes)
        for (unsigned c = r.first; c <= r.last; c++)
            if (t[i] == code_name(c)) {
                *code = c;
                return true;
            }
    return false;
}

std::vector<std::string> words(const char *text)
{
    std::vector<std::string> out;
    std::string cur;
    for (const char *p = text; *p; p++) {
        if (*p == ' ' || *p == '\t') {
            if (!cur.empty())
                out.push_back(cur);
            cur.clear();
        } else {
            cur += *p;
        }
    }
    if (!cur.empty())
        out.push_back(cur);
    return out;
}

template <int N> const char *listed(const char *const (&names)[N], int index)
{
    return index >= 1 && index < N ? names[index] : nullptr;
}

} // namespace

const char *sm_text_state_bit(sm_state_set set, uint32_t bit)
{
    int pos = bit_shift_value(bit); // 1 for bit 0
    if (pos == 0)
        return nullptr;
    if (set == SM_SET_REG)
        return listed(regobject_callstate_list, pos);
    if (pos <= 15)
        return listed(callobject_callstate_list, pos);
    int own = pos - 16; // 1 for bit 16
    switch (set) {
    case SM_SET_ISDN:
        return listed(callobject_callstate_list_isdn, own);
    case SM_SET_GSM:
        return listed(callobject_callstate_list_gsm, own);
    case SM_SET_ITAPI:
        return listed(callobject_callstate_list_itapi, own);
    case SM_SET_CAS:
        return listed(callobject_callstate_list_cas, own);
    case SM_SET_FXS:
        return listed(callobject_callstate_list_analog_fxs, own);
    case SM_SET_FXO:
        return listed(callobject_callstate_list_analog_fxo, own);
    default:
        return nullptr;
    }
}

std::string sm_text_states(sm_state_set set, int32_t mask)
{
    if (mask == SM_ANY)
        return "ANY";
    if (mask == 0)
        return "0x0";
    std::string out;
    for (int b = 0; b < 32; b++) {
        uint32_t bit = (uint32_t)1 << b;
        if (((uint32_t)mask & bit) == 0)
            continue;
        if (!out.empty())
            out += " | ";
        const char *n = sm_text_state_bit(set, bit);
        if (n) {
            out += n;
        } else {
            char hex[16];
            snprintf(hex, sizeof hex, "0x%x", (unsigned)bit);
            out += hex;
        }
    }
    return out;
}

std::string sm_text_next_state(sm_state_set set, int32_t next)
{
    if (next == SM_NEXT_ROW)
        return "(continue)";
    if (next == SM_KEEP_STATE)
        return "(stay)";
    return sm_text_states(set, next);
}

std::string sm_text_event(int32_t event)
{
    if (event == SM_ANY)
        return "ANY";
    unsigned src = word_source(event);
    std::string out = src < source_count ? source_names[src] : "UNKNOWN";
    if (word_status(event) != 0)
        out += " " + std::to_string(word_status(event));
    return out + " " + code_text(word_code(event));
}

std::string sm_text_out_event(int32_t event)
{
    if (event == SM_NO_EVENT)
        return no_value;
    std::string out;
    if (word_source(event) != 0) // out-events carry no source: show one that does
        out = (word_source(event) < source_count ? source_names[word_source(event)] : "UNKNOWN") +
              std::string(" ");
    if (word_status(event) != 0)
        out += std::to_string(word_status(event)) + " ";
    return out + code_text(word_code(event));
}

std::string sm_text_action(statemachine_handle handle)
{
    if (!handle)
        return no_value;
    const char *n = sm_action_name(handle);
    return n ? n : "(unlisted action)";
}

std::string sm_text_row(sm_state_set set, const statemachine_transition &row)
{
    return sm_text_states(set, row.state) + "\t" + sm_text_event(row.event) + "\t" +
           sm_text_next_state(set, row.state_next) + "\t" + sm_text_out_event(row.event_out) + "\t" +
           sm_text_action(row.handle);
}

int sm_parse_state(sm_state_set set, const char *text, int32_t *state)
{
    if (!text)
        return -1;
    if (parse_word(text, state))
        return 0;
    for (int b = 0; b < 32; b++) {
        const char *n = sm_text_state_bit(set, (uint32_t)1 << b);
        if (n && strcmp(n, text) == 0) {
            *state = (int32_t)((uint32_t)1 << b);
            return 0;
        }
    }
    return -1;
}

int sm_parse_event(const char *text, int32_t *event)
{
    if (!text)
        return -1;
    if (parse_word(text, event))
        return 0;
    std::vector<std::string> t = words(text);
    if (t.size() == 1 && t[0] == "ANY") {
        *event = SM_ANY;
        return 0;
    }
    if (t.size() < 2)
        return -1;
    unsigned src = 0;
    while (src < source_count && t[0] != source_names[src])
        src++;
    if (src == source_count)
        return -1;
    unsigned status = 0, code = 0;
    size_t i = 1;
    if (t.size() > 2 && t[1] != "code") {
        if (!parse_digits(t[1], 0xfff, &status))
            return -1;
        i = 2;
    }
    if (!parse_code(t, i, &code))
        return -1;
    *event = make_word(src, status, code);
    return 0;
}

int sm_parse_out_event(const char *text, int32_t *event)
{
    if (!text)
        return -1;
    if (parse_word(text, event))
        return 0;
    if (strcmp(text, no_value) == 0 || strcmp(text, "-") == 0) {
        *event = SM_NO_EVENT;
        return 0;
    }
    std::vector<std::string> t = words(text);
    unsigned status = 0, code = 0;
    size_t i = 0;
    if (t.size() > 1 && t[0] != "code") {
        if (!parse_digits(t[0], 0xfff, &status))
            return -1;
        i = 1;
    }
    if (t.empty() || !parse_code(t, i, &code))
        return -1;
    *event = make_word(0, status, code);
    return 0;
}
