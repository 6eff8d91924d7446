// Rewriting of a routed call's outgoing numbers and identities ("mangling"):
// the templates of the call's active configuration expanded with the call's
// values into one of the three layouts of its mangled record.
#pragma once
#include <cstddef>

struct call_object;

// SIP-originated calls toward a line: fill mangled_sip_to_pstn (texts cut to
// 127 characters). The call's kind (callinfo) is already the direction's.
// Always 0.
int dialplan_mangle_names_sip_to_isdn(call_object *co);
int dialplan_mangle_names_sip_to_analog(call_object *co);
int dialplan_mangle_names_sip_to_gsm(call_object *co);
int dialplan_mangle_names_sip_to_cas(call_object *co);

struct call_leg_sip;
struct sip_address_info_object;

// Calls toward SIP: fill mangled_sip_to_sip (SIP to SIP) or
// mangled_pstn_to_sip (a line to SIP) from the active configuration's SIP
// templates, then replace the outgoing leg's address record by one made from
// them. Returns the new record (owned by the leg), null without outgoing leg.
sip_address_info_object *dialplan_mangle_names_sip_to_sip(call_object *co);
sip_address_info_object *dialplan_mangle_names_pstn_to_sip(call_object *co);

// One private header: a non-empty "all" template expanded, else a non-empty
// user template, trimmed, with "@${account_domain}" appended and expanded;
// kept only when it contains ':' (1), else the output is empty (0).
int apply_priv_header_settings(call_object *co, const char *all, const char *user, char *out, size_t size);

// The host of outgoing SIP URIs: the SIP domain of the SIP port group that
// the outgoing leg's proxy definition names, else the leg's local address;
// "" without a leg.
const char *get_url_for_sip_header(const call_object *co);

// What the rewriting needs of call control: the full local URL of a leg
// (host, port, transport) for a Via port (0 none). Until installed it logs
// once and gives the empty text.
struct dialplan_mangle_iface {
    void (*format_full_local_url)(const call_leg_sip *leg, char *buf, size_t size, int via_port);
};
// Installs the members given (null members keep the placeholder).
void dialplan_set_mangle_iface(const dialplan_mangle_iface *iface);
extern dialplan_mangle_iface dialplan_mangle_hooks;
