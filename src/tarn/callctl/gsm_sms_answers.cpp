// The answers of the SMS exchanges: a message read from the SIM goes to the
// incoming spool and is then deleted from the SIM; the result of a sent
// message is counted, reported and filed, or the message is sent again.
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_statistics.h"
#include "experimental_options.h"
#include "gsm_events.h"
#include "gsm_events_intern.h"
#include "gsm_lib.h"
#include "gsm_log.h"
#include "log.h"
#include "log_backend.h"

namespace {

} // namespace

int gsm_cmgd_index(const char *sent)
{
    const char *eq = sent ? strchr(sent, '=') : nullptr;
    if (!eq || !isdigit((unsigned char)eq[1]))
        return -1;
    long v = 0;
    const char *p = eq + 1;
    for (; isdigit((unsigned char)*p); p++) {
        v = v * 10 + (*p - '0');
        if (v > 100000)
            return -1;
    }
    for (; *p; p++)
        if (*p != '\r' && *p != '\n')
            return -1;
    return (int)v;
}

namespace {

// Files the answer in the incoming spool; 0 when it was filed.
int file_message(const gsm_event &ev)
{
    const char *spool = gp->gsm_sms_spool_in;
    // An error answer (an empty or unreadable slot) holds no message.
    gsm_answer_lines *a = new gsm_answer_lines;
    gsm_split_answer(ev.response, *a);
    bool readable = a->ok() && a->count > 0 && strncmp(a->line[0], "+CMGR:", 6) == 0;
    delete a;
    if (!readable) {
        GLOG(0, ev.port, "GSM_EVENT_TYPE_CMGR failed");
        return -1;
    }
    if (gp->experimental_options && gp->experimental_options->eo_gsm_pdu_mode)
        return gsm_sms_incoming_pdu(spool, (unsigned)ev.port, ev.response);
    int dcs = 0, first_octet = 0;
    _gsm_event_sms_read_t *r = libgsm_event_sms_read_mem(ev.port, 0, ev.response, &dcs, &first_octet);
    if (!r) {
        GLOG(0, ev.port, "GSM_EVENT_TYPE_CMGR failed");
        return -1;
    }
    int rc = gsm_sms_incoming(spool, r->date, r->number, (unsigned)ev.port, r->msg, dcs, first_octet);
    free(r);
    return rc;
}

void count(uint32_t (&member)[CALLSTAT_PORTS], int port)
{
    if (uint32_t *slot = callstat_port(member, port))
        (*slot)++;
}

} // namespace

void gsm_handle_cmgr(gsm_event &ev)
{
    int index = gsm_cmgd_index(ev.cmd->send_cmd);
    if (file_message(ev) != 0) {
        // Deleting it now would lose it: it stays on the SIM.
        GLOG(0, ev.port, "CRITICAL: message %i of port %i not filed, left on the SIM", index, ev.port);
        return;
    }
    if (index < 0) {
        GLOG(0, ev.port, "CRITICAL: no message index in the read command, message left on the SIM");
        return;
    }
    char cmd[40];
    snprintf(cmd, sizeof cmd, "AT+CMGD=%d\r\n", index);
    gsm_queue_command(ev.port, GSM_EVENT_TYPE_CMGD, cmd, nullptr, nullptr, 0, 1);
}

void gsm_handle_cmgs(gsm_event &ev, const gsm_answer_lines &a)
{
    // The message record is ours once the answer reached us.
    gsm_outgoing_sms *sms = (gsm_outgoing_sms *)ev.cmd->send_cmd;
    ev.cmd->send_cmd = nullptr;
    if (!sms)
        return;
    if (!gp->gsm_sms_spool_out || !gp->gsm_sms_spool_out[0] || !sms->filename || strchr(sms->filename, '/')) {
        // Only a file of the outgoing spool itself is ever touched.
        GLOG(0, ev.port, "CRITICAL: result of a sent SMS without a file in the outgoing spool, dropped");
        gsm_sms_free(sms);
        return;
    }
    const int port = ev.port;
    const std::string name = sms->filename ? sms->filename : "";
    const char *filename = name.c_str();
    const std::string file = std::string(gp->gsm_sms_spool_out) + "/" + filename;
    const bool invalid = a.count > 0 && strcmp(a.line[0], "INVALIDFORMAT") == 0;

    if (a.ok() && !invalid) {
        count(gp->callstat.sms_sent_success, port);
        _verbose_msg(__FILE__, __LINE__, __func__, "G SMS|SENDING SUCCESSFUL<br>port %i, file %s\n", port, filename);
        gsm_sms_log_result(sms, filename, port, gsm_sms_last_cmgs_ids[port], sms->number, 0, "");
        unlink(file.c_str());
        unlink((file + ".log").c_str());
        unlink((file + ".processing").c_str());
        if (gp->experimental_options && gp->experimental_options->eo_gsm_pdu_mode && global_gsm_wait_for_cds_time) {
            global_gsm_cds_waiting_id[port] = gsm_sms_last_cmgs_ids[port];
            global_gsm_cds_waiting[port] = global_gsm_wait_for_cds_time + 1;
        }
        gsm_sms_free(sms);
        return;
    }

    sms->counter++;
    const std::string reason = a.last();
    gsm_report_append((file + ".log").c_str(), (reason + "\n").c_str());
    const gsm_global_config *g = gp->gsm_global_config;
    const int max_attempts = g ? g->max_sms_attempts : 1;
    if (sms->counter >= max_attempts || invalid) {
        const char *failout = g && g->spool_failout ? g->spool_failout : "";
        gsm_sms_log_result(sms, filename, port, -1, sms->number, 1, reason.c_str());
        gsm_sms_move_to_failout(port, gp->gsm_sms_spool_out, filename, failout);
        count(gp->callstat.sms_sent_failed, port);
        GLOG(0, port, "moving failed sms %s to %s", filename, failout);
        _verbose_msg(__FILE__, __LINE__, __func__, "G SMS|SENDING FAILED<br>MOVING TO %s: port %i, file %s\n", failout,
                     port, filename);
        // Its file has reached its end: the record goes with it.
        gsm_sms_free(sms);
        return;
    }
    GLOG(9, port, "queuing again failed sms %s", filename);
    // Queued again the record belongs to the queue (which frees it when it
    // refuses it).
    gsm_queue_command(port, GSM_EVENT_TYPE_CMGS, sms, nullptr, nullptr, 0, 1);
    _verbose_msg(__FILE__, __LINE__, __func__, "G SMS|SENDING FAILED<br>RETRYING : port %i, file %s\n", port, filename);
}
