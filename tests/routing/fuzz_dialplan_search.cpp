// Request values through the dial plan searches: one fixed plan (automatic
// and manual source and destination choice over the request's headers,
// negated patterns, templates with references, ISDN prefixes and filters),
// and the input split at newlines into the peer address, the parts of the
// request's address record, extra header values, and an ISDN call's port,
// numbers and types of number.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "confman.h"
#include "dialplan.h"
#include "dialplan_search.h"
#include "misdn_bchannel.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "proxy_def.h"

#include <sofia-sip/msg.h>
#include <sofia-sip/sip_parser.h>

namespace {

std::vector<std::string> pieces;

const char *piece(size_t i) { return i < pieces.size() ? pieces[i].c_str() : ""; }

using A = sip_address_info_object;
char *A::*const parts[] = {
    &A::from_url_user,         &A::from_display,          &A::to_url_user,      &A::to_display,
    &A::p_asserted_identity_user, &A::p_preferred_identity_user, &A::p_remote_party_id, &A::p_called_party_id_user,
    &A::request_url_user,      &A::contact_user,
};
constexpr size_t PEER = 0, FIRST_PART = 1, HEADERS = FIRST_PART + std::size(parts), ISDN_PIECE = HEADERS + 1;

const char *const plan =
    "SIP\tISDN\t!10\\..*\t1-1000\t!0.*\t${new_destination}\\1\\2\\9\t*\t\\0\\0\\0\\0\tfrom_sip_src_setting=auto\n"
    "SIP\tSIP\t*\t${to_user}${from_user}\t(.*)\t${from_display}\\1\t!(.*)x\t\\1\\1\\1\t"
    "from_sip_src_setting=/^X-F: (.*)$/\\1\\1/,from_sip_dest_setting=/^X-F: ([0-9]*)(.*)$/\\2\\1/\n"
    "SIP\tSIP\tp:${from_user}\tg:${to_user}\t*\t\\0\t*\t\\0\tfrom_sip_src_setting=pai_user\n"
    "SIP\tANALOG\t*\t${contact_user}\t(0*)(.*)\t\\2\t*\t\\0\tfrom_sip_dest_setting=pcpi_user,sip_allow_message=1\n"
    "SIP\tSIP\t(.*)\t10.9.0.1\t*\t+\\0\t*\t+\\0\tsip2dialplan_dad_prefix_setting=prepend,"
    "sip2dialplan_oad_prefix_setting=prepend\n"
    "ISDN\tSIP\t1,,g:a,${oad}\t${dad}\t(.*)\t\\1\\1\t*\t\\0\tprefix_priority=predialplan,extra_filter=bearer.cap!=8\n"
    "ISDN\tSIP\t*,1,2,3\tp:x\t*\t\\0\t!(.*)\t\\1\\1\\1\\1\tprefix_priority=postdialplan,from_pstn_src_setting=oad,"
    "dialplan_go_on=1,override=pres=1:screen=3\n"
    "ISDN\tSIP\t2\t10.9.0.2\t*\t\\0\t*\t\\0\tfrom_pstn_src_setting=auto\n";

call_object *co;
misdn_bchannel *bc;
call_leg_sip in_leg;
msg_t *msg;

template <size_t N>
void fill(char (&field)[N], const std::string &s)
{
    memset(field, 0, N);
    memcpy(field, s.data(), s.size() < N ? s.size() : N); // may be unterminated at full width
}

void release_dp()
{
    if (co->dp) {
        dialplan_cleanup_element(co->dp);
        free(co->dp);
        co->dp = nullptr;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    application_create();
    init_locks();
    cm_init();
    init_default_call_configuration();
    create_call_object_pools(4);
    dialplan_sip_iface i{pg_get_port_group_sip_by_name, nullptr,
                         [](const char *id) { return create_proxy_definition_by_id(id, SIP_OUTBOUND); },
                         clone_proxy_definition, free_proxy_def};
    dialplan_set_sip_iface(&i);
    char path[] = "/tmp/tarn-fuzz-dialplan-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || write(fd, plan, strlen(plan)) != (ssize_t)strlen(plan))
        abort();
    close(fd);
    dialplan_load(path);
    unlink(path);
    co = (call_object *)calloc(1, sizeof *co);
    bc = (misdn_bchannel *)calloc(1, sizeof *bc);
    co->cc_active = &co->cc;
    co->cc_source = co->cc_destination = &gp->default_call_configuration;
    co->pstn_oad[0] = co->pstn_dad[0] = '\0';
    co->analog_oad = co->gsm_oad = co->cas_oad = co->pstn_oad;
    co->analog_dad = co->gsm_dad = co->cas_dad = co->pstn_dad;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pieces.clear();
    std::string in((const char *)data, size);
    for (size_t at = 0;;) {
        size_t nl = in.find('\n', at);
        pieces.push_back(in.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
        if (nl == std::string::npos)
            break;
        at = nl + 1;
    }
    cc_clone_call_configuration(&co->cc, &gp->default_call_configuration);
    snprintf(co->cc.dialplan_international_prefix, sizeof co->cc.dialplan_international_prefix, "%s",
             piece(PEER));

    // From SIP.
    in_leg = call_leg_sip{};
    snprintf(in_leg.sip_peer_network_ip, sizeof in_leg.sip_peer_network_ip, "%s", piece(PEER));
    in_leg.address_info = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
    for (size_t i = 0; i < std::size(parts); i++)
        in_leg.address_info->*parts[i] = strdup(piece(FIRST_PART + i));
    std::string headers;
    for (char c : std::string(piece(HEADERS)))
        headers += c == '\r' || c == '\0' || c == '|' ? ' ' : c == '\t' ? '\n' : c;
    std::string text = "MESSAGE sip:1@10.0.0.5 SIP/2.0\r\nFrom: <sip:a@192.0.2.1>;tag=1\r\nTo: <sip:1@10.0.0.5>\r\n"
                       "Call-ID: c\r\nCSeq: 1 MESSAGE\r\n";
    size_t start = 0;
    for (size_t nl; (nl = headers.find('\n', start)) != std::string::npos || start < headers.size();) {
        std::string one = headers.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        text += "X-F: " + one + "\r\n";
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    text += "Content-Length: 0\r\n\r\n";
    msg = msg_make(sip_default_mclass(), 0, text.c_str(), (isize_t)text.size());
    in_leg.tmpsip = msg ? sip_object(msg) : nullptr;
    co->cl_sip = co->cl_sip_in = &in_leg;
    co->callinfo = CI_INUSE;
    co->f.is_sip_message = size % 2;
    for (int start_index = 0; start_index < 3; start_index++) {
        dialplan_search_from_sip(co, start_index);
        if (co->dp && strlen(co->dp->to_id) >= DP_VAR_TEXT_SIZE)
            abort();
    }
    if (co->new_source && strlen(co->new_source) >= DP_PREFIXED_SIZE)
        abort();
    release_dp();
    if (co->cl_sip_out) {
        free_proxy_def(co->cl_sip_out->pd);
        co->cl_sip_out->pd = nullptr;
        co->cl_sip_out->in_use = 0;
        co->cl_sip_out = nullptr;
    }
    free_proxy_def(in_leg.pd);
    free_address_info(in_leg.address_info);
    if (msg)
        msg_destroy(msg);
    msg = nullptr;

    // From an ISDN port.
    const std::string &isdn = pieces.size() > ISDN_PIECE ? pieces[ISDN_PIECE] : std::string();
    co->bc = bc;
    bc->port = isdn.empty() ? 1 : (uint8_t)isdn[0] % 5;
    bc->oton = (mISDN_NUMBER_TYPE)(isdn.size() > 1 ? isdn[1] % 9 : 2);
    bc->dton = (mISDN_NUMBER_TYPE)(isdn.size() > 2 ? isdn[2] % 9 : 0);
    bc->capability = isdn.size() > 3 ? isdn[3] : 0;
    fill(bc->oad, piece(ISDN_PIECE + 1));
    fill(bc->dad, piece(ISDN_PIECE + 2));
    fill(bc->activersionDivQNumber2, piece(ISDN_PIECE + 3));
    co->cl_sip = &in_leg;
    in_leg = call_leg_sip{};
    co->dialplan_start_index = 0;
    for (int round = 0; round < 2; round++)
        dialplan_search_from_isdn(co);
    release_dp();
    free_proxy_def(in_leg.pd);
    for (char **s : {&co->new_source, &co->new_destination}) {
        free(*s);
        *s = nullptr;
    }
    for (char *&b : co->call_group_buddies) {
        free(b);
        b = nullptr;
    }
    cc_release_call_configuration(co->cc_source);
    cc_release_call_configuration(co->cc_destination);
    co->cc_source = co->cc_destination = &gp->default_call_configuration;
    co->bc = nullptr;
    co->cl_sip = co->cl_sip_in = nullptr;
    return 0;
}
