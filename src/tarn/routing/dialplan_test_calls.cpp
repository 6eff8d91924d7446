// The console's dial plan tests: a dummy incoming call built from
// "key=value|key=value" input, the real search run on it, and what the call
// would become, written to the console's stream.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "application.h"
#include "call_configuration.h"
#include "call_reset.h"
#include "confman.h"
#include "dialplan.h"
#include "dialplan_console.h"
#include "dialplan_mangle.h"
#include "dialplan_search.h"
#include "global_lock.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "proxy_def.h"
#include "schema.h"

namespace {

enum { TEST_INPUT_MAX = 4095, TEST_PID = CALL_OBJECT_NO_CDR_PID };

// The configuration string of a port's section in the line files.
constexpr int PORT_SECTION = 1, PORT_CONFIG_KEY = 2;
static_assert(CFG_ISDN_PORT_CONFIG == PORT_CONFIG_KEY && CFG_ANALOG_PORT_CONFIG == PORT_CONFIG_KEY &&
                  CFG_GSM_PORT_CONFIG == PORT_CONFIG_KEY,
              "the configuration string of a port's section");

const char *text(const char *s)
{
    return s ? s : "(null)";
}

std::string trimmed(std::string s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Calls take(key, value) for every part of the input (its first 4095
// characters) that holds '=' and a non-empty key.
template <typename F> void for_each_pair(const char *input, F take)
{
    std::string in(input ? input : "");
    if (in.size() > TEST_INPUT_MAX)
        in.resize(TEST_INPUT_MAX);
    size_t start = 0;
    while (start <= in.size()) {
        size_t bar = in.find('|', start);
        std::string part = in.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        size_t eq = part.find('=');
        if (eq != std::string::npos) {
            std::string key = trimmed(part.substr(0, eq));
            if (!key.empty())
                take(key, trimmed(part.substr(eq + 1)));
        }
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
}

void replace_text(char *&slot, const std::string &value)
{
    char *copy = strdup(value.c_str());
    if (!copy)
        return;
    free(slot);
    slot = copy;
}

// A dummy call outside the pool, as a free call with the identifier that
// writes no CDR. Its reset runs under global_lock.
struct test_call {
    std::unique_ptr<call_object> co{new call_object()};
    test_call()
    {
        init_call_object(co.get(), 0);
        co->pid = TEST_PID;
    }
    // What the search found decides the kind; a call the search left free
    // would be reset only as far as a free object, and leak.
    void end()
    {
        if (co->callinfo == CI_FREE)
            co->callinfo = CI_INUSE;
        lock_hold hold(&lock_manager::global_lock);
        reset_op(co.get());
    }
};

// ---- SIP -----------------------------------------------------------------------------

struct sip_key {
    const char *key;
    char *sip_address_info_object::*part;
};
constexpr sip_key sip_keys[] = {
    {"from_user", &sip_address_info_object::from_url_user},
    {"from_display", &sip_address_info_object::from_display},
    {"from_url", &sip_address_info_object::from_url},
    {"to_user", &sip_address_info_object::to_url_user},
    {"to_display", &sip_address_info_object::to_display},
    {"to_url", &sip_address_info_object::to_url},
    {"ppi_user", &sip_address_info_object::p_preferred_identity_user},
    {"ppi_display", &sip_address_info_object::p_preferred_identity_display},
    {"ppi_all", &sip_address_info_object::p_preferred_identity},
    {"pai_user", &sip_address_info_object::p_asserted_identity_user},
    {"pai_display", &sip_address_info_object::p_asserted_identity_display},
    {"pai_all", &sip_address_info_object::p_asserted_identity},
    {"rpi_user", &sip_address_info_object::p_remote_party_id_user},
    {"rpi_display", &sip_address_info_object::p_remote_party_id_display},
    {"rpi_all", &sip_address_info_object::p_remote_party_id},
    {"request_url_user", &sip_address_info_object::request_url_user},
    {"request_url_host", &sip_address_info_object::request_url_host},
};

void print_sip_request(FILE *out, const call_object *co, const call_leg_sip *leg)
{
    const sip_address_info_object &a = *leg->address_info;
    // The matched line's own setting, else the call's.
    const call_configuration *c =
        co->dp && co->dp->cc && co->dp->cc->from_sip_src_setting_set ? co->dp->cc : &co->cc;
    int setting = (int)c->from_sip_src_setting;
    fprintf(out, "=> following data used for incoming SIP call\n");
    fprintf(out, "sip_src_setting: %i (%s)\n", setting, cc_print_from_sip_src_setting(setting));
    fprintf(out, "src ip: %s\n", leg->sip_peer_network_ip);
    fprintf(out, "from user: %s\n", text(a.from_url_user));
    fprintf(out, "from display: %s\n", text(a.from_display));
    fprintf(out, "from url: %s\n", text(a.from_url));
    fprintf(out, "to user: %s\n", text(a.to_url_user));
    fprintf(out, "to display: %s\n", text(a.to_display));
    fprintf(out, "to url: %s\n", text(a.to_url));
    fprintf(out, "preferred identity user: %s\n", text(a.p_preferred_identity_user));
    fprintf(out, "preferred identity display: %s\n", text(a.p_preferred_identity_display));
    fprintf(out, "preferred identity: %s\n", text(a.p_preferred_identity));
    fprintf(out, "asserted identity user: %s\n", text(a.p_asserted_identity_user));
    fprintf(out, "asserted identity display: %s\n", text(a.p_asserted_identity_display));
    fprintf(out, "asserted identity: %s\n", text(a.p_asserted_identity));
    fprintf(out, "remote party id user: %s\n", text(a.p_remote_party_id_user));
    fprintf(out, "remote party id display: %s\n", text(a.p_remote_party_id_display));
    fprintf(out, "remote party id: %s\n", text(a.p_remote_party_id));
    fprintf(out, "request url user: %s\n", text(a.request_url_user));
    fprintf(out, "request url host: %s\n", text(a.request_url_host));
}

void print_sip_match(FILE *out, call_object *co)
{
    const dialplan_element *dp = co->dp;
    dialplan_build_active_configuration(co, nullptr);
    const mangled_sip_to_pstn &m = co->mangled.sip_to_pstn;
    switch (dp->to_tech) {
    case TECH_ISDN:
        fprintf(out, "Found Dialplan Match: SIP -> ISDN (line %i)\n", dp->line);
        co->callinfo = CI_SIP_TO_ISDN;
        dialplan_mangle_names_sip_to_isdn(co);
        fprintf(out, "isdn dad  : %s\n", m.dad);
        fprintf(out, "isdn oad  : %s\n", m.oad);
        fprintf(out, "isdn oad2 : %s\n", m.oad2);
        fprintf(out, "isdn rad  : %s\n", m.redirected_nr);
        fprintf(out, "isdn qsig : %s\n", m.qsig_local_name);
        break;
    case TECH_GSM:
        fprintf(out, "Found Dialplan Match: SIP -> GSM (line %i)\n", dp->line);
        co->callinfo = CI_SIP_TO_GSM;
        dialplan_mangle_names_sip_to_gsm(co);
        fprintf(out, "gsm dad   : %s\n", m.dad);
        fprintf(out, "gsm oad   : %s\n", m.oad);
        break;
    case TECH_ANALOG:
        fprintf(out, "Found Dialplan Match: SIP -> ANALOG (line %i)\n", dp->line);
        co->callinfo = CI_SIP_TO_ANALOG;
        dialplan_mangle_names_sip_to_analog(co);
        fprintf(out, "analog dad     : %s\n", m.dad);
        fprintf(out, "analog oad     : %s\n", m.oad);
        fprintf(out, "analog display : %s\n", m.display);
        break;
    default:
        fprintf(out, "OH NO UNKNOWN TECH\n");
        break;
    }
}

// ---- line technologies ------------------------------------------------------------------

struct line_test {
    dp_tech tech;
    const char *name; // "ISDN", "ANALOG", "GSM"
    const char *help;
    int callinfo;
};

const line_test isdn_test = {TECH_ISDN, "ISDN",
                             "Following Values can be set: port,oad,dad,qsig,screen,pres,oton,dton\n"
                             "Key/Value pairs are separated by '|', e.g. port=3|oad=1234|dad=5678|oton=1\n\n",
                             CI_ISDN_TO_SIP};
const line_test analog_test = {TECH_ANALOG, "ANALOG",
                               "Following Values can be set: port,oad,dad,display\n"
                               "Key/Value pairs are separated by '|', e.g. port=3|oad=1234|dad=5678|oton=1\n\n",
                               CI_ANALOG_TO_SIP};
const line_test gsm_test = {TECH_GSM, "GSM",
                            "Following Values can be set: port,oad,dad\n"
                            "Key/Value pairs are separated by '|', e.g. port=3|oad=1234|dad=5678\n\n",
                            CI_GSM_TO_SIP};

cm *config_of(dp_tech tech)
{
    if (!gp)
        return nullptr;
    switch (tech) {
    case TECH_ISDN: return gp->config_isdn;
    case TECH_ANALOG: return gp->config_analog;
    case TECH_GSM: return gp->config_gsm;
    default: return nullptr;
    }
}

// The values of a line test's dummy call.
struct line_values {
    int port = 0;
    std::string oad, dad, oad2, qsig, display;
    int screen = 0, pres = 0, oton = 0, dton = 0;
};

void print_identities(FILE *out, const call_object *co)
{
    const mangled_pstn_to_sip &m = co->mangled.pstn_to_sip;
    fprintf(out, "from user: %s\n", m.from_user);
    fprintf(out, "from display: %s\n", m.from_display);
    fprintf(out, "from url: %s\n", m.from_url);
    fprintf(out, "to user: %s\n", m.to_user);
    fprintf(out, "to display: %s\n", m.to_display);
    fprintf(out, "to url: %s\n", m.to_url);
    fprintf(out, "P-Preferred Identity: %s\n", m.p_preferred_identity);
    fprintf(out, "P-Asserted Identity: %s\n", m.p_asserted_identity);
    fprintf(out, "Remote-Party-ID: %s\n", m.p_remote_party_id);
}

int to_int(const std::string &s)
{
    return (int)strtol(s.c_str(), nullptr, 10);
}

void make_line_test(const line_test &t, FILE *out, const char *input)
{
    if (!out)
        return;
    fputs(t.help, out);
    line_values v;
    for_each_pair(input, [&](const std::string &key, const std::string &value) {
        if (key == "port")
            v.port = to_int(value);
        else if (key == "oad")
            v.oad = value;
        else if (key == "dad")
            v.dad = value;
        else if (t.tech == TECH_ANALOG && key == "display")
            v.display = value;
        else if (t.tech == TECH_ISDN && key == "oad2")
            v.oad2 = value;
        else if (t.tech == TECH_ISDN && key == "qsig")
            v.qsig = value;
        else if (t.tech == TECH_ISDN && key == "screen")
            v.screen = to_int(value);
        else if (t.tech == TECH_ISDN && key == "pres")
            v.pres = to_int(value);
        else if (t.tech == TECH_ISDN && key == "oton")
            v.oton = to_int(value);
        else if (t.tech == TECH_ISDN && key == "dton")
            v.dton = to_int(value);
    });

    char options[4096] = "";
    if (cm_get(config_of(t.tech), options, sizeof options, PORT_SECTION, PORT_CONFIG_KEY, v.port) != 0) {
        fprintf(out, "Failed getting config for port %i => cancelling\n", v.port);
        return;
    }

    test_call call;
    call_object *co = call.co.get();
    co->callinfo = t.callinfo;
    // A B-channel record of the test's own: never one of the ISDN library's.
    std::unique_ptr<misdn_bchannel> bc;
    switch (t.tech) {
    case TECH_ISDN:
        bc.reset(new misdn_bchannel());
        bc->port = v.port;
        snprintf(bc->oad, sizeof bc->oad, "%s", v.oad.c_str());
        snprintf(bc->dad, sizeof bc->dad, "%s", v.dad.c_str());
        snprintf(bc->oad2, sizeof bc->oad2, "%s", v.oad2.c_str());
        snprintf(bc->qsig_remote_name, sizeof bc->qsig_remote_name, "%s", v.qsig.c_str());
        bc->screen = v.screen;
        bc->pres = v.pres;
        bc->oton = (mISDN_NUMBER_TYPE)v.oton;
        bc->dton = (mISDN_NUMBER_TYPE)v.dton;
        co->bc = bc.get();
        co->bc_port = v.port;
        break;
    case TECH_ANALOG:
        co->analog_port = v.port;
        snprintf(co->analog_display, sizeof co->pstn_display, "%s", v.display.c_str());
        break;
    default:
        co->gsm_port = v.port;
        break;
    }
    // The outgoing SIP leg the search prepares and the rewriting fills.
    co->cl_sip_out = co->cl_sip = get_new_sip_call_leg_allocate();
    snprintf(co->pstn_oad, sizeof co->pstn_oad, "%s", v.oad.c_str());
    snprintf(co->pstn_dad, sizeof co->pstn_dad, "%s", v.dad.c_str());
    co->cc_source = cc_parse_call_configuration_pool(co, options);

    int setting = co->cc_source ? (int)co->cc_source->from_pstn_src_setting : 0;
    fprintf(out, "=> following data used for incoming %s call\n", t.name);
    fprintf(out, "pstn_src_setting: %i (%s)\n", setting, cc_print_from_pstn_src_setting(setting));
    fprintf(out, "port: %i\n", v.port);
    fprintf(out, "oad: %s\n", v.oad.c_str());
    fprintf(out, "dad: %s\n", v.dad.c_str());
    if (t.tech == TECH_ISDN) {
        fprintf(out, "oad2: %s\n", bc->oad2);
        fprintf(out, "rad: %s\n", bc->rad);
        fprintf(out, "qsig: %s\n", bc->qsig_remote_name);
        fprintf(out, "screen: %i\n", v.screen);
        fprintf(out, "pres: %i\n", v.pres);
        fprintf(out, "oton: %i\n", v.oton);
        fprintf(out, "dton: %i\n", v.dton);
    } else if (t.tech == TECH_ANALOG) {
        fprintf(out, "display: %s\n", v.display.c_str());
    }

    dialplan_element *e;
    {
        lock_hold hold(&lock_manager::global_lock);
        e = dialplan_search(co, t.tech);
        if (!e) {
            fprintf(out, "No Dialplan Match Found!\n");
        } else {
            fprintf(out, "Found Dialplan Match: %s -> SIP (line %i)\n", t.name, e->line);
            dialplan_build_active_configuration(co, nullptr);
            dialplan_mangle_names_pstn_to_sip(co);
            print_identities(out, co);
        }
    }
    // The dummy line ports belong to no real call: the reset must neither
    // send on nor release them.
    co->bc = nullptr;
    co->analog_port = 0;
    co->gsm_port = 0;
    co->gsm_port_stored = 0;
    call.end();
}

} // namespace

void dialplan_make_test_from_sip(FILE *out, const char *input)
{
    if (!out)
        return;
    fputs("Following Values can be set: src_ip,from_user,from_display,from_url,to_user,to_display,to_url,pai_user,"
          "pai_url,pai_all,ppi_user,ppi_display,ppi_all\n",
          out);
    fputs("Key/Value pairs are separated by '|', e.g. from_user=desk7|from_url=192.0.2.10|to_user=1234\n\n", out);

    test_call call;
    call_object *co = call.co.get();
    call_leg_sip *leg = get_new_sip_call_leg_allocate();
    leg->address_info = create_dummy_address_info();
    co->cl_sip_in = co->cl_sip = leg;
    if (leg->address_info) {
        for_each_pair(input, [&](const std::string &key, const std::string &value) {
            if (key == "src_ip") {
                snprintf(leg->sip_peer_network_ip, sizeof leg->sip_peer_network_ip, "%s", value.c_str());
                return;
            }
            for (const sip_key &k : sip_keys)
                if (key == k.key)
                    replace_text(leg->address_info->*k.part, value);
        });
        lock_hold hold(&lock_manager::global_lock);
        dialplan_element *e = dialplan_search_from_sip(co, 0);
        print_sip_request(out, co, leg);
        if (!e)
            fprintf(out, "No Dialplan Match Found!\n");
        else
            print_sip_match(out, co);
    }
    call.end();
}

void dialplan_make_test_from_isdn(FILE *out, const char *input)
{
    make_line_test(isdn_test, out, input);
}

void dialplan_make_test_from_analog(FILE *out, const char *input)
{
    make_line_test(analog_test, out, input);
}

void dialplan_make_test_from_gsm(FILE *out, const char *input)
{
    make_line_test(gsm_test, out, input);
}
