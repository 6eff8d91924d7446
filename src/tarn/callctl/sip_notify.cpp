// OPTIONS and NOTIFY outside a call: OPTIONS is answered at once so peers
// can probe the gateway; NOTIFY carries a known peer's resync request and
// message-waiting summaries for analog ports.
#include <fcntl.h>
#include <sofia-sip/nua_tag.h>
#include <sofia-sip/sip.h>
#include <sofia-sip/sip_tag.h>
#include <unistd.h>

#include <cstring>

#include "application.h"
#include "call_object.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "platform_path.h"
#include "pools.h"
#include "sip_hub.h"

namespace {

void respond(nua_t *nua, nua_handle_t *nh, int status, const char *phrase)
{
    nua_respond(nh, status, phrase, NUTAG_WITH(nua_current_request(nua)), TAG_END());
}

// The group that has the user and lists the source among its active
// addresses, or null.
const port_group_sip *notify_peer(const char *user, const char *ip)
{
    port_groups *pg = pg_port_groups();
    for (int g = 0; pg && g < pg->port_groups_sip_count; g++) {
        const port_group_sip *pgs = &pg->port_groups_sip[g];
        for (int u = 0; u < pgs->pgs_user_count; u++) {
            const port_group_sip_user *pu = pgs->pgs_users[u];
            if (!pu || !pu->pgsu_user || strcmp(pu->pgsu_user, user) != 0)
                continue;
            for (int i = 0; i < pgs->pgs_active_ips_count && i < PGS_ACTIVE_IPS_MAX; i++)
                if (pgs->pgs_active_ips[i] && strcmp(pgs->pgs_active_ips[i], ip) == 0)
                    return pgs;
        }
    }
    return nullptr;
}

// The marker other software of the device waits for. Created where no
// planted link can redirect it.
void trigger_provisioning()
{
    int fd = open(platform_path("/tmp/provisioning.triggered").c_str(), O_CREAT | O_WRONLY | O_NOFOLLOW | O_CLOEXEC,
                  0644);
    if (fd >= 0)
        close(fd);
}

// The first analog port setting for the user takes the state.
void set_message_waiting(const char *user, int state)
{
    port_groups *pg = pg_port_groups();
    for (int g = 0; pg && g < pg->port_groups_analog_count; g++) {
        port_group_analog *pga = pg->port_groups_analog[g];
        for (int p = 0; pga && p < pga->port_count; p++) {
            port_group_analog_port_setting *s = &pga->port_settings[p];
            if (!s->clip || strcmp(s->clip, user) != 0)
                continue;
            if (s->message_waiting != state)
                s->message_waiting_delivered = 0;
            s->message_waiting = state;
            return;
        }
    }
}

} // namespace

void handle_incoming_option(nua_event_t, int, char const *, nua_t *nua, nua_magic_t *, nua_handle_t *nh,
                            call_object *co, sip_t const *)
{
    respond(nua, nh, 200, "OK");
    LOGM(SIP, 17, "%s S SEND: NUA_RESPOND[200] \"OK\"", cinfo(co));
    if (!co)
        nua_handle_destroy(nh);
}

void handle_incoming_sip_notify(const char *network_ip, nua_event_t, int, char const *, nua_t *nua, nua_magic_t *,
                                nua_handle_t *nh, call_object *co, sip_t const *sip, tagi_t[])
{
    if (!sip)
        return;
    // 1.
    const char *user = nullptr;
    if (sip->sip_to && sip->sip_to->a_url->url_user)
        user = sip->sip_to->a_url->url_user;
    else if (sip->sip_from && sip->sip_from->a_url->url_user)
        user = sip->sip_from->a_url->url_user;
    if (!user) {
        respond(nua, nh, 481, "Account does not exist");
        return;
    }
    // 2.
    if (!sip->sip_from || !sip->sip_from->a_url->url_host) {
        respond(nua, nh, 481, "Account does not exist!");
        return;
    }
    // 3.
    const port_group_sip *peer = notify_peer(user, network_ip ? network_ip : "");
    if (!peer) {
        respond(nua, nh, 481, "Account does not exist!");
        return;
    }
    // 4.
    bool answered = false;
    if (sip->sip_event && sip->sip_event->o_type && strcmp(sip->sip_event->o_type, "resync") == 0) {
        if (peer->pgs_cc.resync_on_notify) {
            trigger_provisioning();
            LOGM(SIP, 18, "%s S IND : Accepting NOTIFY resync event on sip peer %s from IP %s", cinfo(co),
                 peer->pgs_name ? peer->pgs_name : "", network_ip);
            respond(nua, nh, 200, "OK");
        } else {
            LOGM(SIP, 18, "%s S IND : Rejecting NOTIFY resync event on sip peer %s from IP %s", cinfo(co),
                 peer->pgs_name ? peer->pgs_name : "", network_ip);
            respond(nua, nh, 403, "Forbidden");
        }
        answered = true;
    }
    // 5.
    const sip_payload_t *body = sip->sip_payload;
    if (sip->sip_content_type && sip->sip_content_type->c_type && body && body->pl_data &&
        strcmp(sip->sip_content_type->c_type, "application/simple-message-summary") == 0) {
        std::string text(body->pl_data, body->pl_len);
        size_t at = text.find("Messages-Waiting:");
        if (at == std::string::npos) {
            respond(nua, nh, 481, "Content not supported 2");
            return;
        }
        respond(nua, nh, 200, "OK");
        set_message_waiting(user, text.compare(at, 20, "Messages-Waiting: ye") == 0 ? 1 : 0);
        return;
    }
    // 6. A resync request already has its answer.
    if (!answered)
        respond(nua, nh, 481, "Content not supported");
}
