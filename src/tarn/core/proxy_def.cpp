#include "proxy_def.h"

#include <sofia-sip/sip.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "experimental_options.h"
#include "pg_sip_groups.h"
#include "sip_stack.h"
#include "strtools.h"

namespace {

enum { NUTAG_ADDRESS_SIZE = 512, LOCALIP_SIZE = 64 };

char *dup(const char *s)
{
    return s ? strdup(s) : nullptr;
}

proxy_def *new_definition()
{
    auto *pd = (proxy_def *)calloc(1, sizeof(proxy_def));
    if (pd)
        cc_init_call_configuration(&pd->cc);
    return pd;
}

char *failover_of(const port_group_sip *pgs)
{
    return pgs->pgs_cc.sip_failover_proxy_set && pgs->pgs_cc.sip_failover_proxy[0]
               ? strdup(pgs->pgs_cc.sip_failover_proxy)
               : nullptr;
}

// The outbound proxy address of a group: formatted from its resolved proxy
// address when it has one, else its own proxy URI (or empty).
char *group_nutag_address(const port_group_sip *pgs)
{
    if (pgs->pgs_sip_proxy_using_address_resolved && pgs->pgs_sip_proxy_using_address_resolved[0]) {
        char buf[NUTAG_ADDRESS_SIZE];
        int mode = gp && gp->experimental_options && gp->experimental_options->eo_distribute_invites
                       ? PGS_RESOLVE_RANDOM
                       : PGS_RESOLVE_ADDRESS;
        pg_get_formatted_address_string(pgs, PGS_TARGET_PROXY, mode, buf, sizeof buf);
        return strdup(buf);
    }
    return strdup(pgs->pgs_nutag_proxy_address_string ? pgs->pgs_nutag_proxy_address_string : "");
}

sip_stack *first_stack_named(const char *prefix)
{
    for (int i = 0; gp && i < gp->sip_stack_size; i++)
        if (strncmp(gp->sip_stacks[i].name, prefix, strlen(prefix)) == 0)
            return &gp->sip_stacks[i];
    return nullptr;
}

// The stack a literal target goes out on: LAN, else WAN (each when active),
// else the localhost stack.
sip_stack *stack_for_literal_target()
{
    sip_stack *s = first_stack_named("lan");
    if (s && s->active)
        return s;
    s = first_stack_named("wan");
    if (s && s->active)
        return s;
    return first_stack_named("loc");
}

std::string formatted(const char *format, const char *a, int b = 0)
{
    char buf[NUTAG_ADDRESS_SIZE];
    snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

} // namespace

proxy_def *create_proxy_definition_by_pgs(const port_group_sip *pgs, const port_group_sip_user *user,
                                          int direction)
{
    if (!pgs)
        return nullptr;
    proxy_def *pd = new_definition();
    if (!pd)
        return nullptr;
    if (!user) {
        if (direction == SIP_OUTBOUND && pgs->pgs_user_count > 0) {
            user = pgs->pgs_users[0];
        } else if (pgs->pgs_user_count != 1) {
            // Several accounts and none named: where, but not as whom.
            pd->name = dup(pgs->pgs_name);
            pd->transport = pgs->pgs_transport;
            pd->proxy_nutag_address_string = strdup("");
            pd->user = strdup("");
            pd->auth_user = strdup("");
            pd->display = strdup("");
            pd->is_registrar = pgs->pgs_do_register ? 1 : 0;
            pd->failover = failover_of(pgs);
            cc_clone_call_configuration(&pd->cc, &pgs->pgs_cc);
            return pd;
        } else {
            user = pgs->pgs_users[0];
        }
    }
    pd->pd_sip_proxy = dup(pgs->pgs_sip_proxy);
    pd->pd_sip_domain_set = pgs->pgs_sip_domain_set;
    pd->name = dup(pgs->pgs_name);
    pd->proxy_nutag_address_string = group_nutag_address(pgs);
    pd->transport = pgs->pgs_transport;
    pd->to_url = dup(pgs->pgs_sip_domain);
    pd->user = dup(user->pgsu_user);
    pd->auth_user = dup(user->pgsu_authuser);
    pd->pass = dup(user->pgsu_secret);
    pd->display = dup(user->pgsu_displayname);
    pd->failover = failover_of(pgs);
    char localip[LOCALIP_SIZE];
    pg_sip_get_host_ip_for_port_group(pgs, localip, sizeof localip);
    pd->localip = strdup(localip);
    cc_clone_call_configuration(&pd->cc, &pgs->pgs_cc);
    pd->config_string = dup(pgs->pgs_config_string ? pgs->pgs_config_string : "");
    pd->is_registrar = pgs->pgs_do_register ? 1 : 0;
    return pd;
}

proxy_def *create_proxy_definition_by_id(const char *id, int direction)
{
    if (!id)
        return nullptr;
    if (strlen(id) >= 2 && id[1] == ':' && (id[0] == 'p' || id[0] == 'P' || id[0] == 'd' || id[0] == 'D'))
        id += 2;
    if (!id[0])
        return nullptr;
    int user_index = -1;
    port_group_sip *pgs = pg_get_port_group_sip_by_name(id, &user_index);
    if (pgs)
        return create_proxy_definition_by_pgs(pgs, user_index >= 0 ? pgs->pgs_users[user_index] : nullptr,
                                              direction);
    proxy_def *pd = parse_proxy_definition(id);
    if (pd) {
        free(pd->config_string);
        pd->config_string = strdup("");
    }
    return pd;
}

proxy_def *parse_proxy_definition(const char *target)
{
    if (!target || !target[0])
        return nullptr;
    proxy_def *pd = new_definition();
    if (!pd)
        return nullptr;

    std::string text = target, user, pass, host = target;
    size_t at = text.find('@');
    if (at != std::string::npos) {
        std::string account = text.substr(0, at);
        size_t colon = account.find(':');
        if (colon != std::string::npos) {
            user = account.substr(0, colon);
            pass = account.substr(colon + 1);
        }
        host = text.substr(at + 1);
    }
    pd->user = strdup(user.c_str());
    pd->pass = strdup(pass.c_str());

    // The gateway itself: its LAN address and the first stack's port.
    const char *lan = gp ? gp->netconf.host_ip_lan : "";
    int first_port = gp && gp->sip_stack_size > 0 ? gp->sip_stacks[0].sip_port : 0;
    bool local = host.compare(0, 9, "127.0.0.1") == 0 || host.compare(0, 9, "localhost") == 0;
    if (local)
        host = formatted("%s:%i", lan, first_port);
    pd->pd_sip_proxy = strdup(host.c_str());

    char localip[LOCALIP_SIZE];
    pg_sip_get_host_ip_for_port_group(nullptr, localip, sizeof localip);
    pd->localip = strdup(localip);

    std::string nutag;
    const sip_stack *ss = stack_for_literal_target();
    if (ss) {
        static const struct {
            int bit;
            const char *form;
            const char *local_form;
        } forms[] = {
            {SIP_TRANSPORT_UDP, "sip:%s;transport=udp", "sip:%s:%i;transport=udp"},
            {SIP_TRANSPORT_TCP, "sip:%s;transport=tcp", "sip:%s:%i;transport=tcp"},
            {SIP_TRANSPORT_TLS, "sips:%s;transport=tls", "sips:%s:%i;transport=tls"},
        };
        pd->transport = 0;
        nutag = local ? formatted("%s:%i", lan, first_port) : "";
        for (const auto &f : forms)
            if (ss->transport & f.bit) {
                pd->transport = f.bit;
                nutag = local ? formatted(f.local_form, lan, first_port) : formatted(f.form, host.c_str());
                break;
            }
    } else {
        nutag = formatted("sip:%s;transport=udp", target);
        pd->transport = gp && gp->sip_stack_size > 0 ? gp->sip_stacks[0].transport : 0;
    }
    pd->proxy_nutag_address_string = strdup(nutag.c_str());
    return pd;
}

proxy_def *clone_proxy_definition(const proxy_def *pd)
{
    if (!pd)
        return nullptr;
    auto *c = (proxy_def *)calloc(1, sizeof(proxy_def));
    if (!c)
        return nullptr;
    char *proxy_def::*const texts[] = {&proxy_def::name,         &proxy_def::user,     &proxy_def::auth_user,
                                       &proxy_def::display,      &proxy_def::pass,     &proxy_def::to_url,
                                       &proxy_def::pd_sip_proxy, &proxy_def::localip,  &proxy_def::failover,
                                       &proxy_def::config_string};
    bool ok = true;
    for (char *proxy_def::*t : texts)
        if (pd->*t && !(c->*t = strdup(pd->*t)))
            ok = false;
    if (pd->proxy_nutag_address_string) {
        const port_group_sip *pgs = nullptr;
        if (pd->name && pd->proxy_nutag_address_string[0])
            pgs = pg_get_port_group_sip_by_name(pd->name, nullptr);
        c->proxy_nutag_address_string = pgs ? group_nutag_address(pgs) : strdup(pd->proxy_nutag_address_string);
        ok = ok && c->proxy_nutag_address_string;
    }
    c->pd_sip_domain_set = pd->pd_sip_domain_set;
    c->is_registrar = pd->is_registrar;
    c->transport = pd->transport;
    cc_clone_call_configuration(&c->cc, &pd->cc);
    if (!ok) {
        free_proxy_def(c);
        return nullptr;
    }
    return c;
}

void free_proxy_def(proxy_def *pd)
{
    if (!pd)
        return;
    for (char *s : {pd->pd_sip_proxy, pd->to_url, pd->user, pd->pass, pd->name, pd->localip, pd->failover,
                    pd->auth_user, pd->display, pd->proxy_nutag_address_string})
        free(s);
    cc_cleanup_call_configuration(&pd->cc);
    free(pd->config_string);
    free(pd);
}

// ---- address records -------------------------------------------------------------------

namespace {

char *sip_address_info_object::*const address_texts[] = {
    &sip_address_info_object::from_display,
    &sip_address_info_object::from_url,
    &sip_address_info_object::from_url_user,
    &sip_address_info_object::request_url_user,
    &sip_address_info_object::request_url_host,
    &sip_address_info_object::to_display,
    &sip_address_info_object::to_url,
    &sip_address_info_object::to_url_user,
    &sip_address_info_object::contact_user,
    &sip_address_info_object::contact_host,
    &sip_address_info_object::p_asserted_identity,
    &sip_address_info_object::p_asserted_identity_display,
    &sip_address_info_object::p_asserted_identity_user,
    &sip_address_info_object::p_preferred_identity,
    &sip_address_info_object::p_preferred_identity_display,
    &sip_address_info_object::p_preferred_identity_user,
    &sip_address_info_object::p_remote_party_id,
    &sip_address_info_object::p_remote_party_id_display,
    &sip_address_info_object::p_remote_party_id_user,
    &sip_address_info_object::p_called_party_id,
    &sip_address_info_object::p_called_party_id_display,
    &sip_address_info_object::p_called_party_id_user,
};
static_assert(sizeof address_texts / sizeof address_texts[0] == sizeof(sip_address_info_object) / sizeof(char *),
              "every member of the address record is listed");

void address_parts(const sip_addr_t *a, char **display, char **host, char **user)
{
    std::string d = a && a->a_display ? a->a_display : "";
    std::vector<char> buf(d.begin(), d.end());
    buf.push_back('\0');
    st_strip_quotation_marks(buf.data());
    *display = strdup(buf.data());
    *host = strdup(a && a->a_url->url_host ? a->a_url->url_host : "");
    *user = strdup(a && a->a_url->url_user ? a->a_url->url_user : "");
}

} // namespace

sip_address_info_object *allocate_address_info(const sip_s *sip)
{
    auto *info = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
    if (!info)
        return nullptr;
    address_parts(sip ? sip->sip_from : nullptr, &info->from_display, &info->from_url, &info->from_url_user);
    address_parts(sip ? sip->sip_to : nullptr, &info->to_display, &info->to_url, &info->to_url_user);
    return info;
}

sip_address_info_object *create_dummy_address_info()
{
    auto *info = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
    if (!info)
        return nullptr;
    char *sip_address_info_object::*const empty[] = {
        &sip_address_info_object::from_display, &sip_address_info_object::from_url_user,
        &sip_address_info_object::from_url,     &sip_address_info_object::to_display,
        &sip_address_info_object::p_asserted_identity, &sip_address_info_object::to_url_user,
        &sip_address_info_object::to_url,
    };
    for (char *sip_address_info_object::*t : empty) {
        if (!(info->*t = strdup(""))) {
            free_address_info(info);
            return nullptr;
        }
    }
    return info;
}

sip_address_info_object *allocate_address_info_from_mangled_sip_to_sip(const call_object *co)
{
    auto *info = (sip_address_info_object *)calloc(1, sizeof(sip_address_info_object));
    if (!info || !co)
        return info;
    const mangled_sip_to_sip &m = co->mangled.sip_to_sip;
    info->from_url_user = strndup(m.from_user, sizeof m.from_user);
    info->from_url = strndup(m.from_url, sizeof m.from_url);
    info->from_display = strndup(m.from_display, sizeof m.from_display);
    info->to_url_user = strndup(m.to_user, sizeof m.to_user);
    info->to_url = strndup(m.to_url, sizeof m.to_url);
    info->to_display = strndup(m.to_display, sizeof m.to_display);
    return info;
}

void clone_address_info(const sip_address_info_object *source, sip_address_info_object *target)
{
    if (!source || !target)
        return;
    for (char *sip_address_info_object::*t : address_texts) {
        if (!(source->*t))
            continue;
        free(target->*t);
        target->*t = strdup(source->*t);
    }
}

void free_address_info(sip_address_info_object *info)
{
    if (!info)
        return;
    for (char *sip_address_info_object::*t : address_texts)
        free(info->*t);
    free(info);
}
