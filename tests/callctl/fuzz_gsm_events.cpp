// Modem lines and command answers of any content through the GSM event
// handler: unsolicited lines (RING starts a call that the admission gives
// back at once: no GSM file), and answers of every command type, SMS results
// included, on ports in and outside the tables, with and without a call on
// the port.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_reset.h"
#include "callctl_world.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "gsm_events.h"
#include "gsm_lib.h"
#include "pools.h"
#include "sm_defs.h"
#include "statemachine.h"
#include "timer.h"

namespace {

SM_ACTION(nothing)
{
    (void)p, (void)arg, (void)state, (void)event;
    return {SM_NO_DECISION, SM_ROW_EVENT};
}
const statemachine_transition rows[] = {{SM_ANY, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, nothing}};

call_object *call = nullptr;

void setup()
{
    char root[] = "/tmp/fuzz-gsm-events.XXXXXX";
    const char *dir = mkdtemp(root);
    setenv("TARN_ROOT", dir, 1);
    callctl_world(4);
    gp->gsm_sms_spool_out = strdup((std::string(dir) + "/out").c_str());
    static experimental_options eo{};
    gp->experimental_options = &eo;
    // A call on port 2 that stays for the whole run.
    call = get_free_operation_handle(1);
    call->callinfo = CI_GSM_TO_SIP;
    call->gsm_port = 2;
    call->sm = statemachine_create(call, SM_CALL_ACTIVE, rows, 1, nullptr, nullptr);
    call->sm_state = SM_CALL_ACTIVE;
}

const int types[] = {0,
                     GSM_EVENT_TYPE_ATA,
                     GSM_EVENT_TYPE_ATD,
                     GSM_EVENT_TYPE_CLCC,
                     GSM_EVENT_TYPE_CMGR,
                     GSM_EVENT_TYPE_CMGS,
                     GSM_EVENT_TYPE_CREG,
                     GSM_EVENT_TYPE_SPN,
                     GSM_EVENT_TYPE_PCT,
                     GSM_EVENT_TYPE_CSQ,
                     GSM_EVENT_TYPE_CNMI,
                     GSM_EVENT_TYPE_CSCB,
                     GSM_EVENT_TYPE_SERVINFO,
                     GSM_EVENT_TYPE_CIMI,
                     GSM_EVENT_TYPE_CGSN,
                     GSM_EVENT_TYPE_ATV,
                     GSM_EVENT_TYPE_SWPKGV,
                     GSM_EVENT_TYPE_CEER,
                     GSM_EVENT_TYPE_UNKNOWN};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = (setup(), true);
    (void)ready;
    if (size < 4)
        return 0;
    // Byte 0: the command type, byte 1: the port (-1..8), byte 2: options,
    // then the sent command up to a NUL and the response.
    int type = types[data[0] % (sizeof types / sizeof types[0])];
    int port = (int)(data[1] % 10) - 1;
    gp->experimental_options->eo_ltedtmf = data[2] & 3;
    gp->experimental_options->eo_gsm_pdu_mode = (data[2] >> 2) & 1;
    gp->experimental_options->eo_gsm_restart_on_fail_count = (data[2] >> 3) & 3;
    std::string rest((const char *)data + 3, size - 3);
    size_t nul = rest.find('\0');
    std::string sent = nul == std::string::npos ? "" : rest.substr(0, nul);
    std::string response = nul == std::string::npos ? rest : rest.substr(nul + 1);

    gsm_command c{};
    c.event_type = type;
    c.port = port;
    c.response = response.data();
    c.notify = 1;
    if (type == GSM_EVENT_TYPE_CMGS) {
        gsm_outgoing_sms *sms = (gsm_outgoing_sms *)calloc(1, sizeof *sms);
        sms->msg = strdup("x");
        sms->number = strdup("1");
        sms->filename = strdup(sent.c_str());
        sms->counter = data[2] >> 5;
        c.send_cmd = (char *)sms; // the handler owns it now
    } else if (type) {
        c.send_cmd = sent.data();
    }
    gsm_event_handler(&c);
    // The standing call keeps its port and machine.
    if (call->gsm_port != 2 || !call->sm)
        __builtin_trap();
    call->sm_state = SM_CALL_ACTIVE;
    return 0;
}
