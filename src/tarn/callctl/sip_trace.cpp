#include "sip_trace.h"

#include <cstdio>
#include <cstring>

#include "call_object.h"
#include "log.h"
#include "log_backend.h"
#include "proxy_def.h"
#include "state_table_actions.h"

namespace {

const char *direction_word(int direction)
{
    return direction ? "INDICATION" : "REQUEST";
}

const char *leg_word(const call_object *co)
{
    return co->cl_sip && co->cl_sip == co->cl_sip_in ? "LEG1" : "LEG2";
}

// Appends one "<br>name=value " item when the value is not empty.
void add_item(char *buf, size_t size, const char *fmt, const char *value)
{
    if (!value || !value[0])
        return;
    size_t used = strlen(buf);
    if (used + 1 < size)
        snprintf(buf + used, size - used, fmt, value);
}

} // namespace

void print_verbose_sip_msg(int direction, call_object *co, const char *msg)
{
    if (!co) {
        _verbose_msg(__FILE__, __LINE__, __func__, "S %s|ERROR:<br>no call object set\n", msg);
        return;
    }
    bool has_info = co->cl_sip && co->cl_sip->address_info;
    switch (co->callinfo) {
    case CI_SIP_TO_SIP:
        if (has_info) {
            if (co->cl_sip_in)
                _verbose_msg(__FILE__, __LINE__, __func__, "S %s|%s|CID=%05i|%s\n", msg, direction_word(direction),
                             co->pid, leg_word(co));
        } else {
            _verbose_msg(__FILE__, __LINE__, __func__, "S %s|%s|CID=%05i<br>no address information available\n", msg,
                         direction_word(direction), co->pid);
        }
        break;
    case CI_SIP_TO_ISDN:
    case CI_SIP_TO_ANALOG:
    case CI_SIP_TO_GSM:
    case CI_SIP_TO_CAS:
        if (has_info)
            _verbose_msg(__FILE__, __LINE__, __func__, "S %s|%s|CID=%05i\n", msg, direction_word(direction), co->pid);
        else
            _verbose_msg(__FILE__, __LINE__, __func__, "S %s|%s|CID=%05i<br>no address information available\n", msg,
                         direction_word(direction), co->pid);
        break;
    case CI_ISDN_TO_SIP:
    case CI_ANALOG_TO_SIP:
    case CI_GSM_TO_SIP:
    case CI_CAS_TO_SIP:
        _verbose_msg(__FILE__, __LINE__, __func__, "S %s|%s|CID=%05i\n", msg, direction_word(direction), co->pid);
        break;
    default:
        break;
    }
}

void print_verbose_extra_info_incoming_invite(call_object *co)
{
    if (!co || !co->cl_sip_in || !co->cl_sip_in->address_info)
        return;
    const sip_address_info_object *ai = co->cl_sip_in->address_info;
    char buf[4096];
    snprintf(buf, sizeof buf, "S INVITE|INDICATION|CID=%05i", co->pid);
    add_item(buf, sizeof buf, "<br>from_user=%s ", ai->from_url_user);
    add_item(buf, sizeof buf, "<br>from_display=%s ", ai->from_display);
    add_item(buf, sizeof buf, "<br>to_user=%s ", ai->to_url_user);
    add_item(buf, sizeof buf, "<br>to_display=%s ", ai->to_display);
    add_item(buf, sizeof buf, "<br>request_user=%s ", ai->request_url_user);
    add_item(buf, sizeof buf, "<br>pai_user=%s ", ai->p_asserted_identity_user);
    add_item(buf, sizeof buf, "<br>ppi_user=%s ", ai->p_preferred_identity_user);
    add_item(buf, sizeof buf, "<br>pcpi_user=%s ", ai->p_called_party_id_user);
    add_item(buf, sizeof buf, "<br>contact_user=%s ", ai->contact_user);
    _verbose_msg(__FILE__, __LINE__, __func__, "%s\n", buf);
}

void print_verbose_extra_info_outgoing_invite_pstn_to_sip(call_object *co)
{
    if (!co || !co->cl_sip)
        return;
    const mangled_pstn_to_sip &m = co->mangled.pstn_to_sip;
    char items[2048] = "";
    snprintf(items, sizeof items, "<br>from=%s <br>to=%s ", co->cl_sip->sip_origin_address,
             co->cl_sip->sip_outbound_address);
    add_item(items, sizeof items, "<br>contact=%s ", m.contact);
    add_item(items, sizeof items, "<br>pai=%s ", m.p_asserted_identity);
    add_item(items, sizeof items, "<br>ppi=%s ", m.p_preferred_identity);
    add_item(items, sizeof items, "<br>pcpi=%s ", m.p_called_party_id);
    _verbose_msg(__FILE__, __LINE__, __func__, "S INVITE|REQUEST|CID=%05i%s\n", co->pid, items);
}

void print_verbose_extra_info_outgoing_invite_sip_to_sip(call_object *co, call_leg_sip *leg)
{
    if (!co || !leg)
        return;
    const mangled_sip_to_sip &m = co->mangled.sip_to_sip;
    char items[2048] = "";
    snprintf(items, sizeof items, "<br>from=%s <br>to=%s ", leg->sip_origin_address, leg->sip_outbound_address);
    add_item(items, sizeof items, "<br>contact=%s ", m.contact_outgoing);
    add_item(items, sizeof items, "<br>pai=%s ", m.p_asserted_identity);
    add_item(items, sizeof items, "<br>ppi=%s ", m.p_preferred_identity);
    add_item(items, sizeof items, "<br>pcpi=%s ", m.p_called_party_id);
    _verbose_msg(__FILE__, __LINE__, __func__, "S INVITE|REQUEST|CID=%05i|%s%s\n", co->pid,
                 leg == co->cl_sip_in ? "LEG1" : "LEG2", items);
}

const char *invite_failed_text(int status, char *buf, int size)
{
    static const struct {
        int status;
        const char *word;
    } words[] = {
        {301, "MOVED_PERMANENTLY"},
        {302, "MOVED_TEMPORARILY"},
        {401, "UNAUTHORIZED"},
        {403, "AUTHENTICATION_FAILED"},
        {404, "PEER_NOT_FOUND"},
        {407, "PROXY_AUTHENTICATION_REQUIRED"},
        {408, "REQUEST_TIMEOUT"},
        {415, "UNSUPPORTED_MEDIA_TYPE"},
        {416, "UNSUPPORTED_URI_SCHEME"},
        {422, "SESSION_INTERVAL_TOO_SMALL"},
        {480, "TEMPORARILY_UNAVAILABLE"},
        {481, "CALL_DOES_NOT_EXIST"},
        {483, "TOO_MANY_HOPS"},
        {484, "ADDRESS_INCOMPLETE"},
        {486, "BUSY"},
        {487, "REQUEST_ENDED"},
        {488, "NOT_ACCEPTABLE"},
        {503, "SERVICE_UNAVAILABLE"},
        {603, "DECLINED"},
        {904, "NO_MATCHING_CHALLENGE"},
    };
    for (const auto &w : words)
        if (w.status == status)
            return w.word;
    snprintf(buf, size, "UNKNOWN_ERROR_RESPONSE_%i", status);
    return buf;
}

void print_verbose_msg_invite_failed_text(call_object *co, int direction, int status)
{
    char buf[64];
    print_verbose_sip_msg(direction, co, invite_failed_text(status, buf, sizeof buf));
}

// A state-table action that writes nothing.
statemachine_handle_retval sm_log_verbose_msg_invite_failed(void *p, void *arg, int32_t state, int32_t event)
{
    (void)p;
    (void)arg;
    (void)state;
    (void)event;
    return {-1, -1};
}

const char *print_sip_response_type(int t)
{
    switch (t) {
    case SIP_ANSWER_OK:
        return "ok";
    case SIP_ANSWER_PROGRESS:
        return "progress";
    case SIP_ANSWER_RINGING:
        return "ringing";
    default:
        return "unknown";
    }
}

int call_index_of_call_leg(const call_object *co, const call_leg_sip *cl)
{
    if (!co || !cl)
        return -1;
    if (cl == co->cl_sip_in)
        return 1;
    if (cl == co->cl_sip_out)
        return 2;
    return -1;
}
