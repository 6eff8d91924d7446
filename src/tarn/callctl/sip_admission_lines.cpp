// The admissions of a SIP request toward ISDN, GSM and SIP once its dial
// plan line is found: the outgoing resource, numbers and information
// elements, the refusal when the resource is missing, the call's machine.
#include <regex.h>
#include <sofia-sip/sip.h>
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "application.h"
#include "base64.h"
#include "call_object.h"
#include "call_services.h"
#include "causes.h"
#include "dialplan_mangle.h"
#include "dialplan_targets.h"
#include "experimental_options.h"
#include "fpga.h"
#include "gsm_call.h"
#include "gsm_port.h"
#include "gsm_queue.h"
#include "gsm_types.h"
#include "confman.h"
#include "log.h"
#include "log_backend.h"
#include "misdn_bchannel.h"
#include "msp_resource.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"
#include "rtp_ports.h"
#include "sdp_offer_answer.h"
#include "sip_admission_internal.h"
#include "sip_hub.h"
#include "sip_responses.h"
#include "sip_trace.h"
#include "sm_defs.h"
#include "sm_tasks.h"
#include "state_tables.h"
#include "strtools.h"
#include "xdv_headers.h"

namespace {

enum { GSM_FIRST_PORT = 1, GSM_LAST_PORT = 6, GSM_PORT_SECTION = 1, GSM_PORTS_KEY = 1 };
enum { HISTORY_ENTRIES = 32, HISTORY_ENTRY_SIZE = 128, USER_USER_TEXT_MAX = 251 };

bool line_goes_on(const call_object *co)
{
    return co->dp && co->dp->cc && co->dp->cc->dialplan_go_on;
}

const char *clir_on_oad(const call_object *co)
{
    return co->cc_destination ? co->cc_destination->clir_on_oad : "";
}

// ---- ISDN --------------------------------------------------------------------------

void copy_number(char *dst, size_t size, const char *src)
{
    snprintf(dst, size, "%s", src ? src : "");
}

void fill_bchannel(call_object *co, misdn_bchannel *bc)
{
    const mangled_sip_to_pstn &m = co->mangled.sip_to_pstn;
    const call_configuration &cc = co->cc;
    copy_number(bc->oad, sizeof bc->oad, m.oad);
    copy_number(bc->oad2, sizeof bc->oad2, m.oad2);
    copy_number(bc->rad, sizeof bc->rad, m.redirected_nr);
    if (bc->use_qsig)
        copy_number(bc->qsig_local_name, sizeof bc->qsig_local_name, m.qsig_local_name);
    bc->sending_complete = 1;
    switch (cc.isdn_destination_field) {
    case CONFIG_ISDN_DESTINATION_KEYPAD:
        copy_number(bc->keypad, sizeof bc->keypad, m.dad);
        bc->dad[0] = '\0';
        break;
    case CONFIG_ISDN_DESTINATION_BOTH:
        copy_number(bc->keypad, sizeof bc->keypad, m.dad);
        copy_number(bc->dad, sizeof bc->dad, m.dad);
        break;
    default:
        copy_number(bc->dad, sizeof bc->dad, m.dad);
        break;
    }
    bc->capability = (int)cc.bearer_capability;
    if (cc.bearer[0]) {
        char bytes[BC_BEARER_LEN];
        int n = base64_to_plaintext(cc.bearer, bytes, sizeof bytes);
        if (n > 0) {
            memcpy(bc->out_bearer_buf, bytes, (size_t)n);
            bc->out_bearer_buf_len = n;
        }
    }
    bc->dton = (mISDN_NUMBER_TYPE)m.dad_ton;
    bc->rton = (mISDN_NUMBER_TYPE)cc.rton;
    bc->cton = (mISDN_NUMBER_TYPE)cc.cton;
    bc->oton = (mISDN_NUMBER_TYPE)m.oad_ton;
    bc->o2ton = (mISDN_NUMBER_TYPE)m.oad2_ton;
    bc->pres = cc.pres;
    bc->o2pres = cc.o2pres;
    bc->screen = cc.screen;
    bc->o2screen = cc.o2screen;
    bc->onpi = (mISDN_NUMBER_PLAN)cc.onpi;
    bc->o2npi = (mISDN_NUMBER_PLAN)cc.o2npi;
    bc->dnpi = (mISDN_NUMBER_PLAN)cc.dnpi;
}

// A History-Info value: the diversion entries "491982...", each up to its
// '@', kept when an ";index=" of digits and dots follows.
void collect_history(const char *value, char (*entries)[HISTORY_ENTRY_SIZE], int *count)
{
    for (const char *at = strstr(value, "491982"); at && *count < HISTORY_ENTRIES; at = strstr(at + 1, "491982")) {
        const char *end = strchr(at, '@');
        if (!end)
            return;
        const char *index = strstr(end, ";index=");
        if (!index)
            continue;
        index += strlen(";index=");
        size_t n = strspn(index, "0123456789.");
        if (n == 0)
            continue;
        size_t len = (size_t)(end - at);
        if (len >= HISTORY_ENTRY_SIZE)
            len = HISTORY_ENTRY_SIZE - 1;
        memcpy(entries[*count], at, len);
        entries[*count][len] = '\0';
        (*count)++;
    }
}

void read_emergency_headers(call_object *co, misdn_bchannel *bc, sip_t const *sip)
{
    char history[HISTORY_ENTRIES][HISTORY_ENTRY_SIZE];
    int entries = 0;
    for (const sip_unknown_t *u = sip ? sip->sip_unknown : nullptr; u; u = u->un_next) {
        if (!u->un_name || !u->un_value)
            continue;
        if (strcasecmp(u->un_name, "User-To-User") == 0) {
            admission_hooks().apply_sip_user_user_to_bc(co, u->un_value);
        } else if (strcasecmp(u->un_name, "History-Info") == 0) {
            printf("History :|%s|\n", u->un_value);
            collect_history(u->un_value, history, &entries);
        }
    }
    if (entries > 0) {
        const char *e = history[0];
        copy_number(bc->rad, sizeof bc->rad, strlen(e) > 3 ? e + 3 : "");
        bc->rton = NUMTYPE_NATIONAL;
    }
}

// A header counts as applied when it changed the B-channel record.
void apply_extension_headers(misdn_bchannel *bc, sip_t const *sip)
{
    bc->sending_complete = 0;
    bool applied = false;
    misdn_bchannel *before = (misdn_bchannel *)malloc(sizeof *before);
    for (const sip_unknown_t *u = sip ? sip->sip_unknown : nullptr; u; u = u->un_next) {
        if (!u->un_name)
            continue;
        if (before)
            memcpy(before, bc, sizeof *before);
        apply_sipx_to_bc(bc, u->un_name, u->un_value ? u->un_value : "");
        if (!before || memcmp(before, bc, sizeof *before) != 0)
            applied = true;
    }
    free(before);
    if (!applied)
        bc->sending_complete = 1;
}

// ---- GSM -----------------------------------------------------------------------------

bool gsm_port_takes_call(int port)
{
    if (port < GSM_FIRST_PORT || port > GSM_LAST_PORT || gsm_port_get_inuse(port))
        return false;
    int status = gp->gsm_port_info.port_infos[port].reg_status;
    if (status != 1 && status != 5)
        return false;
    char buf[256];
    return gp->config_gsm && cm_get(gp->config_gsm, buf, sizeof buf, GSM_PORT_SECTION, GSM_PORTS_KEY, port) == 0;
}

int free_port_of_group(const char *name)
{
    port_group_gsm *g = pg_get_port_group_gsm_by_name(name);
    if (!g) {
        LOGD(GSM, 0, nullptr, "CRITICAL: Couldn't find gsm port group with name %s", name);
        return 0;
    }
    int count = g->port_count;
    if (count <= 0 || !g->port_settings)
        return 0;
    int start = 0;
    if (g->chansel_method == CHANSEL_ROUNDROBIN) {
        start = ((g->next_chansel_port_index % count) + count) % count;
        g->next_chansel_port_index = (start + 1) % count;
    } else if (g->chansel_method == CHANSEL_RANDOM) {
        srand((unsigned)time(nullptr));
        start = rand() % count;
    }
    for (int k = 0; k < count; k++) {
        int idx = (start + k) % count;
        if (g->chansel_direction == CHANSEL_DIRECTION_DESCENDING)
            idx = count - 1 - idx;
        int port = g->port_settings[idx].port;
        if (port == 0)
            return 0;
        if (!gsm_port_takes_call(port))
            continue;
        LOGD(GSM, 3, nullptr, "got free registered gsm port %i (regstatus=%i) from port group %s", port,
             gp->gsm_port_info.port_infos[port].reg_status, name);
        return port;
    }
    return 0;
}

int free_port_of_list(const char *list)
{
    char copy[256];
    snprintf(copy, sizeof copy, "%s", list);
    char *save = nullptr;
    for (char *p = strtok_r(copy, ",", &save); p; p = strtok_r(nullptr, ",", &save)) {
        int port = atoi(p);
        if (!gsm_port_takes_call(port))
            continue;
        LOGD(GSM, 3, nullptr, "got free registered gsm port %i (regstatus=%i)", port,
             gp->gsm_port_info.port_infos[port].reg_status);
        return port;
    }
    return 0;
}

// Step 6 of the GSM admission: the LTE modem's clock for a wideband call.
void set_lte_clock(call_object *co, int port, sip_t const *sip)
{
    if (!gsm_port_is_lte(port) || !tarn_fpga_has_g722())
        return;
    int codec = sip_predict_using_codec(co, sip);
    bool wide = codec == 9 && !co->cc.non_voice_call;
    const char *clock = wide ? "4096,1" : "2048";
    LOGD_CALL(GSM, 3, co, "LTE-HD dial: gsm port %i, predicted codec %i (G722=%i), setting DVICLK=%s", port, codec,
              wide ? 1 : 0, clock);
    char command[64];
    snprintf(command, sizeof command, "AT#DVICLK=%s\r\n", clock);
    gsm_queue_command(port, GSM_EVENT_TYPE_DVI, command, nullptr, nullptr, 0, 0);
}

// ---- SIP -----------------------------------------------------------------------------

void keep_passthrough_headers(call_object *co, sip_t const *sip)
{
    regex_t filter;
    bool filtered = false;
    if (co->cc.header_passthrough_filter[0])
        filtered = regcomp(&filter, co->cc.header_passthrough_filter, REG_EXTENDED | REG_NOSUB) == 0;
    const port_group_sip *pgs = co->dp ? pg_get_port_group_sip_by_name(co->dp->to_id, nullptr) : nullptr;
    call_leg_sip *in = co->cl_sip_in;
    if (pgs && in && sip) {
        int i = 0;
        for (const sip_unknown_t *u = sip->sip_unknown; u && i < 32; u = u->un_next, i++) {
            free(in->passthrough_headers[i]);
            in->passthrough_headers[i] = nullptr;
            const char *name = u->un_name ? u->un_name : "";
            if (filtered) {
                char line[300];
                snprintf(line, sizeof line, "%s:", name);
                if (regexec(&filter, line, 0, nullptr, 0) != 0)
                    continue;
            }
            char out[256];
            patch_passthrough_header_url(out, sizeof out, name, u->un_value ? u->un_value : "", pgs);
            in->passthrough_headers[i] = strdup(out);
        }
    }
    if (filtered)
        regfree(&filter);
}

int running_sip_to_sip_calls(const call_object *self)
{
    int n = 0;
    for (int i = 0; i < OPERATIONARRAYSIZE && i < OPERATIONS_CAPACITY; i++) {
        const call_object *c = gp->operations[i];
        if (c && c != self && c->callinfo == CI_SIP_TO_SIP)
            n++;
    }
    return n;
}

} // namespace

// The common refusal of a line admission: the mapped answer (a 302 to the
// move_on_pstn_fail target when the call has one), its Reason header, the
// handle destroyed, the call reset, slot 0 of the technology's counter.
// code_override replaces the mapped answer when non-zero.
void refuse_line_call(call_object *co, nua_t *nua, nua_handle_t *nh, int cause, int code_override,
                      const char *phrase_override, uint32_t *slot0)
{
    int code = 0;
    const char *text = nullptr;
    get_reject_cause(TECH_SIP, TECH_TARN, cause, &code, &text);
    if (code_override) {
        code = code_override;
        text = phrase_override;
    }
    char contact[300] = "";
    if (move_on_pstn_fail_create_contact_string(co, contact, sizeof contact) == 0)
        code = 302;
    send_refusal(co, nua, nh, code, text, contact);
    print_verbose_sip_msg(0, co, text ? text : "");
    drop_request_handle(co, nh);
    reset_call(co);
    if (slot0)
        (*slot0)++;
}

void sip_admission_fill_user_user(misdn_bchannel *bc, const char *name)
{
    if (!bc || !name || !name[0])
        return;
    size_t len = strlen(name);
    if (len > USER_USER_TEXT_MAX)
        len = USER_USER_TEXT_MAX;
    bc->uu[0] = 0x01;
    bc->uu[1] = (unsigned char)(len + 3);
    bc->uu[2] = 0x81;
    bc->uu[3] = ':';
    memcpy(bc->uu + 4, name, len);
    bc->uu[4 + len] = '\0';
    bc->uu_protocol = 0;
    bc->uulen = (int)len + 5;
}

int init_incoming_sip_to_isdn_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                   char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                   call_object *co, sip_t const *sip)
{
    (void)network_ip, (void)network_port, (void)event, (void)status, (void)phrase, (void)magic;
    // 1.
    if (co->cc.emergency)
        co->f.emergency = 1;
    // 2.
    const char *to_id = co->dp->to_id;
    int ports_down = 0;
    misdn_bchannel *bc = get_isdn_channel_by_dialplan_string(co, to_id, &ports_down);
    co->callinfo = CI_SIP_TO_ISDN;
    for (int attempt = 0; !bc && co->f.emergency && attempt < 2; attempt++) {
        if (attempt)
            bc = get_isdn_channel_by_dialplan_string(co, to_id, &ports_down);
        if (!bc)
            bc = emergency_terminate_isdn_call(co, to_id);
    }
    // 3.
    if (!bc) {
        if (line_goes_on(co))
            return -1;
        co->cdr.tc_incoming_event = 6;
        LOGD_CALL(TARN, 1, co, "Couldn't get free B-channel for call %s -- %s , cancelling call", from_user_of(co),
                  to_user_of(co));
        co->special_termination_reason = ports_down ? 8 : 7;
        int cause = ports_down ? 906 : 902;
        print_verbose_extra_info_incoming_invite(co);
        if (isdn_downqueues_full())
            refuse_line_call(co, nua, nh, cause, 480, "Gateway Busy, try again later",
                             &gp->callstat.counter_sip_to_isdn_port[0]);
        else
            refuse_line_call(co, nua, nh, cause, 0, nullptr, &gp->callstat.counter_sip_to_isdn_port[0]);
        return 0;
    }
    co->bc = bc;
    // 4.
    if (uint32_t *slot = callstat_port(gp->callstat.counter_sip_to_isdn_port, bc->port))
        (*slot)++;
    if (gp->experimental_options && gp->experimental_options->eo_isdn_debug)
        isdn_dump_channels(bc->port);
    co->bc_port = bc->port;
    // 5.
    dialplan_mangle_names_sip_to_isdn(co);
    fill_bchannel(co, bc);
    // 6.
    const char *clir = clir_on_oad(co);
    if (clir[0] && strcmp(bc->oad, clir) == 0) {
        LOGD_CALL(TARN, 3, co, "oad '%s' matches clir_on_oad", bc->oad);
        bc->oad[0] = '\0';
        bc->pres = 1;
        bc->screen = 1;
    }
    // 7.
    int allowed = (int)co->cc.allow_all_chars_in_isdn_number;
    if (st_string_has_non_valid_isdn_chars(bc->oad, allowed))
        bc->oad[0] = '\0';
    if (st_string_has_non_valid_isdn_chars(co->mangled.sip_to_pstn.dad, allowed)) {
        co->cdr.terminated_by = 0;
        co->cdr.tc_incoming_event = 8;
        refuse_request(co, nua, nh, 905, 9);
        gp->callstat.counter_sip_to_isdn_port[0]++;
        return 0;
    }
    // 8.
    if (co->cc.tr_notruf)
        read_emergency_headers(co, bc, sip);
    // 9.
    if (co->cc.ie_on_sip)
        apply_extension_headers(bc, sip);
    // 10.
    if (co->cc.isdn_ie_hlc[0])
        bc->hlclen = st_hexstring_to_bytearray(co->cc.isdn_ie_hlc, bc->hlc, sizeof bc->hlc);
    if (co->cc.isdn_ie_llc[0])
        bc->llclen = st_hexstring_to_bytearray(co->cc.isdn_ie_llc, bc->llc, sizeof bc->llc);
    // 11.
    sip_admission_fill_user_user(bc, co->mangled.sip_to_pstn.user_user_name);
    // 12.
    if (co->mangled.sip_to_pstn.display[0])
        copy_number(bc->display, sizeof bc->display, co->mangled.sip_to_pstn.display);
    // 13.
    if (co->f.sip_privacy) {
        bc->oad[0] = '\0';
        bc->pres = 1;
        bc->screen = 1;
    }
    // 14.
    co->bc_channel = bc->channel;
    LOGD_CALL(ISDN, 1, co, "Got Bchannel : port %i (nt=%i) channel %i", bc->port, bc->nt, bc->channel);
    co->sm = create_statemachine_sip_to_isdn(co, SM_SIP_INVITE_RECEIVED, admission_hooks().tarn_send_event);
    return 0;
}

// A call toward GSM without a port to dial on: cause 910.
static void refuse_gsm_call(call_object *co, nua_t *nua, nua_handle_t *nh)
{
    co->special_termination_reason = 6;
    refuse_line_call(co, nua, nh, 910, 0, nullptr, &gp->callstat.counter_sip_to_gsm_port[0]);
}

int get_free_gsm_port_by_dialplan_string(call_object *co, const char *target)
{
    if (!co || !target || !gp)
        return 0;
    int port;
    if (strlen(target) > 2 && (target[0] == 'g' || target[0] == 'G') && target[1] == ':')
        port = free_port_of_group(target + 2);
    else
        port = free_port_of_list(target);
    if (port)
        co->gsm_port = port;
    return port;
}

int init_incoming_sip_to_gsm_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                  char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                  call_object *co, sip_t const *sip)
{
    (void)network_ip, (void)network_port, (void)event, (void)status, (void)phrase, (void)magic;
    // 1.
    co->callinfo = CI_SIP_TO_GSM;
    int port = get_free_gsm_port_by_dialplan_string(co, co->dp->to_id);
    // 2.
    if (!port) {
        if (line_goes_on(co))
            return -1;
        LOGD_CALL(GSM, 0, co, "CRITICAL: couldn't get free registered gsm port");
        refuse_gsm_call(co, nua, nh);
        return 0;
    }
    // 3.
    dialplan_mangle_names_sip_to_gsm(co);
    const mangled_sip_to_pstn &m = co->mangled.sip_to_pstn;
    snprintf(co->gsm_oad, 64, "%s", m.oad);
    // 4.
    const char *suffix = "i";
    const char *clir = clir_on_oad(co);
    bool oad_hidden = clir[0] && strcmp(co->gsm_oad, clir) == 0;
    if (oad_hidden)
        LOGD_CALL(GSM, 3, co, "gsm oad '%s' matches clir_on_oad", co->gsm_oad);
    if (co->f.sip_privacy || oad_hidden)
        suffix = "I";
    if (co->cc.non_voice_call)
        suffix = "";
    else if (co->cc.gsm_clir == 1)
        suffix = "I";
    else if (co->cc.gsm_clir == 2)
        suffix = "i";
    // 5.
    const char *anon = suffix[0] == 'I' ? "yes" : "no";
    LOGM(GSM, 17, "%s G SEND: ATD\"%s\", oad:\"%s\" anon %s", cinfo(co), m.dad, co->gsm_oad, anon);
    _verbose_msg(__FILE__, __LINE__, __func__, "G ATD|REQUEST|CID=%05i<br>GSM Port %i, dad => %s,  anon %s\n",
                 co->pid, port, m.dad, anon);
    char number[128];
    snprintf(number, sizeof number, "%s%s", m.dad, suffix);
    // 6.
    set_lte_clock(co, port, sip);
    // 7. A dial that is not placed (the port was taken or stopped since it
    // was chosen, or its queue refused the command) is a port that could not
    // be had: the call must not wait for a modem answer that never comes,
    // and the port, which may carry another call, is not this call's.
    if (gsm_call_num_port(port, number, co->cc.non_voice_call) < 0) {
        LOGD_CALL(GSM, 0, co, "CRITICAL: dialling on gsm port %i failed", port);
        co->gsm_port = 0;
        if (line_goes_on(co))
            return -1;
        refuse_gsm_call(co, nua, nh);
        return 0;
    }
    snprintf(co->gsm_dad, 64, "%s", number);
    if (uint32_t *slot = callstat_port(gp->callstat.counter_sip_to_gsm_port, port))
        (*slot)++;
    // 8.
    co->sm = create_statemachine_sip_to_gsm(co, SM_GSM_DIALED, admission_hooks().tarn_gsm_send_event);
    // The modem may refuse the dial at once and the call be over before the
    // runner gets to this task; the object may then carry another call.
    add_sm_task_check_pid(co, sm_general(GENERAL_EVENT_GSM_DIALING_FINISHED));
    return 0;
}

int init_incoming_sip_to_sip_call(const char *network_ip, int network_port, nua_event_t event, int status,
                                  char const *phrase, nua_t *nua, nua_magic_t *magic, nua_handle_t *nh,
                                  call_object *co, sip_t const *sip)
{
    (void)network_ip, (void)network_port, (void)event, (void)status, (void)phrase, (void)magic;
    // 1.
    if (gp->callstat.counter_sip_to_pstn > 0)
        gp->callstat.counter_sip_to_pstn--;
    gp->callstat.counter_sip_to_sip++;
    if (co->dp && co->dp->cc && co->dp->cc->calldeflect_set)
        co->cc.calldeflect = co->dp->cc->calldeflect;
    else
        co->cc.calldeflect = 0;
    co->callinfo = CI_SIP_TO_SIP;
    // 2.
    admission_hooks().sm_add_vaz_to_new_destination(co);
    dialplan_mangle_names_sip_to_sip(co);
    activate_call_leg(co, co->cl_sip_out);
    // 3.
    if (co->cc.header_passthrough)
        keep_passthrough_headers(co, sip);
    // 4.
    if (co->f.is_sip_message) {
        co->sm = create_statemachine_sip_to_sip(co, SM_SIP_INVITE_RECEIVED, nullptr);
        return 0;
    }
    // 5.
    uint32_t running = (uint32_t)running_sip_to_sip_calls(co) + 1;
    if (running > gp->callstat.counter_sip_to_sip_max_simultaneous)
        gp->callstat.counter_sip_to_sip_max_simultaneous = running;
    if (co->cc.sdp_codec_selection == 2)
        co->cc.s2s_rtp_handling_method = 2;
    switch (co->cc.s2s_rtp_handling_method) {
    case 0:
    case 2:
        co->f.transparent_call = 1;
        break;
    case 1:
        msp_release_all_resources(co, &co->msp_resources_reserved);
        if (msp_request_resource(co, &co->msp_resources_reserved, MSPRES_G711_20) != 0) {
            // No transcoding media for the call: refused as any call
            // without a media resource.
            LOGD_CALL(TARN, 0, co, "CRITICAL: couldn't allocate msp resource!");
            refuse_request(co, nua, nh, 901, 4);
            gp->callstat.counter_sip_to_isdn_port[0]++;
            return 0;
        }
        co->f.transparent_call = 0;
        break;
    case 3:
        co->f.transparent_call = 0;
        break;
    case 4:
        co->f.no_rtp = 1;
        break;
    default:
        break;
    }
    update_rtp_port(co, co->cl_sip_in);
    co->sm = create_statemachine_sip_to_sip(co, SM_SIP_INVITE_RECEIVED, nullptr);
    return 0;
}
