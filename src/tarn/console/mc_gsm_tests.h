// Console tests of the GSM parsers and modem paths: incoming messages in PDU
// and text mode, delivery reports, the LTE registration work-around, the
// network survey and simulated cell broadcasts. All answer 0.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

int mc_gsm_test_pdu_mode_incoming_sms(const char *arg, FILE *out, int *state);
int mc_gsm_test_pdu_mode_incoming_cds(const char *arg, FILE *out, int *state);
int mc_gsm_test_text_mode_incoming_sms(const char *arg, FILE *out, int *state);
// "preg" X: ports 1 to 6 only; any other number is refused without output.
int mc_test_lte_register_workaround(const char *arg, FILE *out, int *state);
int mc_gsm_csurv(const char *arg, FILE *out, int *state);
int mc_simulate_gsm_cbm_read(const char *arg, FILE *out, int *state);

// The modem lines of cell-broadcast test n (0 to 8) as the modem sends them
// (each ending in CR LF); empty for another number.
std::vector<std::string> mc_cbm_test_lines(int n);
// The pause between two of those lines (1000 ms; tests shorten it).
extern int mc_cbm_line_pause_ms;
