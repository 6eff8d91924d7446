// The GSM modems' events in call control: every finished AT command and
// every unsolicited modem line reaches gsm_event_handler, which keeps the
// ports' modem information, finishes SMS exchanges, files cell broadcasts,
// stores USSD answers, and turns call events into GSM event words for the
// call on the port (or admits a new call on RING). Also the out-event sender
// of the GSM machines and the parser of the modem profile listing.
#pragma once
#include <cstdint>
#include <ctime>

#include "gsm_types.h"

struct call_object;
struct gsm_port_info;

// The modem library's event callback (bring-up hands it to gsm_init). Runs
// in the ports' reader threads; only the call part takes global_lock.
void gsm_event_handler(gsm_command *cmd);

// The machines' out-event sender: logs and hands the code to the modem
// library when the call has a GSM port. Returns 0.
int32_t tarn_gsm_send_event(void *co, void *arg, int32_t out_event);

// Stores the modem-profile texts of an AT&V listing (count lines) in the
// fields of info that are still empty.
void gsm_parse_atv(gsm_port_info *info, char **lines, int count);

// Admission of a call the modem reports ringing (global_lock held); 0 when
// its machine was created and run, else -1.
int init_incoming_gsm_call(gsm_command *cmd);

// After a run of a call's machine (global_lock held): a machine in
// SM_DESTROYING is destroyed and the call reset, one in SM_DISMANTLING gets
// its dismantling timer.
void gsm_finish_machine_run(call_object *co);

// Per port (index = port number 1..6) state of the SMS and cell-broadcast
// exchanges; each port's reader thread is the only writer of its entries.
extern int gsm_cds_expected[8];          // a status-report PDU line is due
extern int global_gsm_cds_waiting_id[8]; // message reference awaited
extern int gsm_cbm_expected[8];          // announced PDU length, -1 unknown, 0 none
extern time_t gsm_cbm_expected_at[8];    // when it was announced (gsm_events_now)

// The clock of the cell-broadcast wait (seconds, monotonic); tests replace it.
extern time_t (*gsm_events_now)();

// The longest USSD answer kept per port (the console shows at most 511
// characters of it).
enum { GSM_CUSD_ANSWER_MAX = 511 };
