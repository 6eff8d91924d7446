// Console commands that send SIP test requests outside calls and list the
// memory statistics of the SIP stacks.
//
// The handles these requests go out on carry no call: the call object of
// "smsg:" is given back at once, so the answer to the request finds no owner
// and the event callback destroys the handle then (a timeout is an answer
// too, 408 from the stack itself).
#include "mc_sip_messages.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "application.h"
#include "call_info.h"
#include "call_leg_sip.h"
#include "call_object.h"
#include "call_reset.h"
#include "experimental_options.h"
#include "global_lock.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "pools.h"
#include "reg_object.h"
#include "sip_stack.h"

// Last: the parser's header defines macros named like our functions.
#include <sofia-sip/nta_tag.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/su_alloc_stat.h>
#include <sofia-sip/sip_tag.h>

namespace {

const char *text(const char *s)
{
    return s ? s : "";
}

port_group_sip *sip_group(int index)
{
    port_groups *pg = gp ? gp->port_groups : nullptr;
    return pg && index >= 0 && index < pg->port_groups_sip_count ? &pg->port_groups_sip[index] : nullptr;
}

nua_t *stack_of(const port_group_sip *pgs)
{
    return pgs->pgs_sip_stack ? pgs->pgs_sip_stack->nua : nullptr;
}

// The text with CR and LF written as "\r" and "\n".
std::string visible(const std::string &s)
{
    std::string r;
    for (char c : s)
        r += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return r;
}

void print_home(FILE *out, const char *name, su_home_t *home)
{
    su_home_stat_t st{};
    st.hs_size = sizeof st;
    if (home)
        su_home_get_stats(home, 0, &st, sizeof st);
    fprintf(out, "%s%smemory statistics\n", name, name[0] ? " " : "");
    fprintf(out, "\t%llu allocs, %llu bytes, %llu rounded, %llu max\n", (unsigned long long)st.hs_allocs.hsa_number,
            (unsigned long long)st.hs_allocs.hsa_bytes, (unsigned long long)st.hs_allocs.hsa_rbytes,
            (unsigned long long)st.hs_allocs.hsa_maxrbytes);
    fprintf(out, "\t%llu frees, %llu bytes, rounded to %llu bytes\n", (unsigned long long)st.hs_frees.hsf_number,
            (unsigned long long)st.hs_frees.hsf_bytes, (unsigned long long)st.hs_frees.hsf_rbytes);
    fprintf(out, "\t%llu rehashes, %llu clones\n", (unsigned long long)st.hs_rehash, 0ULL);
    fputs("----------------------------------\n", out);
}

} // namespace

int mc_sip_send_message(const char *arg, FILE *out, int *)
{
    std::string a = text(arg);
    size_t bar1 = a.find('|');
    size_t bar2 = bar1 == std::string::npos ? std::string::npos : a.find('|', bar1 + 1);
    std::string group = a.substr(0, bar1);
    std::string to = bar1 == std::string::npos ? "" : a.substr(bar1 + 1, bar2 == std::string::npos ? bar2 : bar2 - bar1 - 1);
    std::string body = bar2 == std::string::npos ? "This is a text message" : a.substr(bar2 + 1);
    if (to.empty())
        to = "testmsg";

    lock_hold groups(&lock_manager::pgs_lock);
    port_group_sip *pgs = gp ? pg_get_port_group_sip_by_name(group.c_str(), nullptr) : nullptr;
    if (!pgs) {
        fprintf(out, "port group %s does not exist\n", group.c_str());
        return 0;
    }
    lock_hold calls(&lock_manager::global_lock);
    call_object *co = get_free_operation_handle(1);
    if (!co) {
        LOGM(GSM, LOG_MSG_ERROR, "%s E ERR : no free call objects left", cinfo(nullptr));
        return -1;
    }
    co->callinfo = CI_ISDN_TO_SIP;
    co->f.no_cdr = 1;
    co->cl_sip_out = get_new_sip_call_leg();
    co->cl_sip = co->cl_sip_out;
    call_leg_sip *leg = co->cl_sip;
    if (!leg) {
        LOGD(TARN, 0, cinfo(co), "CRITICAL: no free SIP leg for the console's MESSAGE");
        reset_op(co);
        return 0;
    }
    char host[64];
    pg_sip_get_host_ip_for_port_group(pgs, host, sizeof host);
    const char *user = pgs->pgs_user_count > 0 && pgs->pgs_users[0] ? text(pgs->pgs_users[0]->pgsu_user) : "";
    const char *target = pgs->pgs_active_ips_count > 0 ? pgs->pgs_active_ips[0] : text(pgs->pgs_sip_proxy);
    snprintf(leg->sip_origin_address, sizeof leg->sip_origin_address, "sip:%s@%s", user, host);
    snprintf(leg->sip_outbound_address, sizeof leg->sip_outbound_address, "sip:%s@%s", to.c_str(), target);
    fprintf(out, "message from %s to %s\n", leg->sip_origin_address, leg->sip_outbound_address);
    nua_t *nua = stack_of(pgs);
    nua_handle_t *nh = nua ? nua_handle(nua, nullptr, SIPTAG_FROM_STR(leg->sip_origin_address),
                                        SIPTAG_TO_STR(leg->sip_outbound_address), NUTAG_AUTOANSWER(0), TAG_END())
                           : nullptr;
    if (nh) {
        char proxy[512];
        pg_get_formatted_address_string(pgs, PGS_TARGET_PROXY, PGS_RESOLVE_ADDRESS, proxy, sizeof proxy);
        nua_message(nh, SIPTAG_CONTENT_TYPE_STR("text/plain"), SIPTAG_PAYLOAD_STR(body.c_str()),
                    NTATAG_DEFAULT_PROXY(URL_STRING_MAKE(proxy)), TAG_END());
        fprintf(out, "SEND: NUA_MESSAGE => %s\n", visible(body).c_str());
    } else {
        LOGD(SIP, 1, cinfo(co), "no SIP handle for the console's MESSAGE through %s", text(pgs->pgs_name));
    }
    reset_op(co);
    return 0;
}

int mc_sip_send_test_notify_provisioning_trigger(const char *arg, FILE *out, int *)
{
    int idx = atoi(text(arg));
    lock_hold groups(&lock_manager::pgs_lock);
    port_group_sip *pgs = sip_group(idx);
    if (!pgs) {
        fprintf(out, "No port group at index %i\n", idx);
        return 0;
    }
    const char *address = text(pgs->pgs_nutag_registrar_address_string);
    if (!address[0])
        address = text(pgs->pgs_nutag_proxy_address_string);
    fprintf(out, "Sending NOTIFY trigger event to port group %s at %s\n", text(pgs->pgs_name), address);
    const port_group_sip_user *u = pgs->pgs_user_count > 0 ? pgs->pgs_users[0] : nullptr;
    const char *from = u ? text(u->pgsu_siptag_from_string) : "";
    nua_t *nua = stack_of(pgs);
    nua_handle_t *nh = nua && from[0] ? nua_handle(nua, nullptr, SIPTAG_FROM_STR(from), SIPTAG_TO_STR(from),
                                                   NUTAG_REGISTRAR(URL_STRING_MAKE(address)),
                                                   TAG_IF(pgs->pgs_contact_string && pgs->pgs_contact_string[0],
                                                          SIPTAG_CONTACT_STR(pgs->pgs_contact_string)),
                                                   TAG_END())
                                      : nullptr;
    if (!nh) {
        LOGD(SIP, 1, nullptr, "no SIP handle for the NOTIFY trigger of %s", text(pgs->pgs_name));
        return 0;
    }
    // A NOTIFY of no subscription: the stack sends it only when told so.
    nua_notify(nh, NUTAG_NEWSUB(1), NTATAG_DEFAULT_PROXY(URL_STRING_MAKE(address)), SIPTAG_HEADER_STR("Event: resync"),
               TAG_END());
    return 0;
}

int mc_sofia_statistics_memory(const char *, FILE *out, int *)
{
    experimental_options *eo = gp ? gp->experimental_options : nullptr;
    if (!eo || !(eo->eo_debug_flags & 2))
        fputs("feature disabled, add debug_flags=2 to experimental options\n", out);
    fputs("Listing Stack Memory Info\n", out);
    for (int i = 0; gp && i < gp->sip_stack_size && i < SIP_STACKS_CAPACITY; i++) {
        sip_stack &ss = gp->sip_stacks[i];
        fprintf(out, "\nListing stack %s\n", ss.name);
        print_home(out, "app_home", ss.app_home);
        print_home(out, "nua", (su_home_t *)ss.nua);
    }
    fputs("\n\n=====================================\n\n", out);
    fputs("Listing Registration Memory Info\n", out);
    lock_hold calls(&lock_manager::global_lock);
    for (int i = 0; gp && gp->registrations && i < REGISTRATIONARRAYSIZE; i++) {
        reg_object *ro = gp->registrations[i];
        if (!ro || ro->callinfo == CI_FREE || !ro->nh)
            continue;
        print_home(out, ro->pgs ? text(ro->pgs->pgs_name) : "", nua_handle_home(ro->nh));
    }
    return 0;
}
