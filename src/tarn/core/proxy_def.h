// Where an outgoing SIP request goes and as whom (proxy_def), made from a SIP
// port group or from a literal target of a dial plan line, and the address
// parts of a SIP dialog (sip_address_info_object). Each is owned by the leg,
// registration or dial plan line that holds it; texts are owned by the record
// and null means not set.
#pragma once
#include "call_configuration.h"

struct port_group_sip;
struct port_group_sip_user;
struct call_object;
struct sip_s;

enum sip_direction { SIP_INBOUND = 1, SIP_OUTBOUND = 2 };

struct proxy_def {
    char *name; // SIP port group, or null for a literal target
    char *user;
    char *auth_user;
    char *display;
    char *pass;
    char *to_url; // the group's SIP domain
    char *pd_sip_proxy;
    int pd_sip_domain_set;
    char *localip;
    char *failover;
    int is_registrar;
    int transport; // 1 UDP, 2 TCP, 4 TLS
    char *proxy_nutag_address_string;
    call_configuration cc;
    char *config_string;
};

struct sip_address_info_object {
    char *from_display;
    char *from_url;
    char *from_url_user;
    char *request_url_user;
    char *request_url_host;
    char *to_display;
    char *to_url;
    char *to_url_user;
    char *contact_user;
    char *contact_host;
    char *p_asserted_identity;
    char *p_asserted_identity_display;
    char *p_asserted_identity_user;
    char *p_preferred_identity;
    char *p_preferred_identity_display;
    char *p_preferred_identity_user;
    char *p_remote_party_id;
    char *p_remote_party_id_display;
    char *p_remote_party_id_user;
    char *p_called_party_id;
    char *p_called_party_id_display;
    char *p_called_party_id_user;
};

// A definition for a group name ("p:" or "d:" in front is dropped, any case;
// "group:user" names one of its users) or, when no group has the name, for
// a literal target. Null for an empty identifier.
proxy_def *create_proxy_definition_by_id(const char *id, int direction);
// From a group and one of its users (null: the first user for SIP_OUTBOUND;
// else the only user, or no user data when the group has several).
proxy_def *create_proxy_definition_by_pgs(const port_group_sip *pgs, const port_group_sip_user *user,
                                          int direction);
// A literal target: "user:password@host" or a bare host; null when empty.
proxy_def *parse_proxy_definition(const char *target);
// A deep copy (the outbound proxy address formatted again from the group when
// it still exists); null when memory runs out.
proxy_def *clone_proxy_definition(const proxy_def *pd);
// Frees the definition (null does nothing); never twice.
void free_proxy_def(proxy_def *pd);

// From, To of a parsed SIP message (display names without quotation marks;
// missing parts are empty texts).
sip_address_info_object *allocate_address_info(const sip_s *sip);
// A record whose From, To and P-Asserted-Identity texts are empty (each an
// owned ""); null when memory runs out.
sip_address_info_object *create_dummy_address_info();
// The rewritten From and To of a SIP-to-SIP call.
sip_address_info_object *allocate_address_info_from_mangled_sip_to_sip(const call_object *co);
// Copies every set text of source into target (replacing target's).
void clone_address_info(const sip_address_info_object *source, sip_address_info_object *target);
// Frees every set text and the record; null does nothing.
void free_address_info(sip_address_info_object *info);
