// The dial plan: the gateway's routing table, read from the dial plan file
// (/usr/conf/tarn.dialplan, or the -p path) into the application's
// dialplan / dialplan_size under dialplan_lock. One element per line that
// loaded, in search order.
#pragma once
#include <regex.h>

#include <cstdint>

struct call_configuration;
struct port_group_sip;
struct proxy_def;

enum dp_tech : int32_t {
    TECH_TARN = 0,
    TECH_SIP = 1,
    TECH_ISDN = 2,
    TECH_GSM = 3,
    TECH_ANALOG = 4,
    TECH_CAS = 5,
    TECH_ITAPI = 6,
    TECH_UNKNOWN = 7,
};

// One dial plan line. Texts, compiled patterns, proxy definitions and
// to_ports are owned; cc is a pooled record the element holds one
// reference on.
struct dialplan_element {
    int line;  // 1-based, every line of the file counted
    int index; // position in the table
    dp_tech from_tech;
    dp_tech to_tech;
    char *from_id;
    char *from_id_regexp_string; // stands in for from_id when copied; the loader leaves it null
    char *to_id;
    char *original_destination;
    char *new_destination;
    char *original_source;
    char *new_source;
    char *config;
    char *original_line;
    int not_matching_from_id;
    int not_matching_source;
    int not_matching_destination;
    regex_t *regexp_from_id;
    regex_t *regexp_original_destination;
    regex_t *regexp_original_source;
    call_configuration *cc;
    proxy_def *pd_in;
    proxy_def *pd_out;
    proxy_def *failover_proxy;
    int match_for_fromuser;
    int preresolved;
    int *to_ports;
    int to_ports_count;
    uint32_t internal_sip_to_pstn_call : 1;
    uint32_t internal_pstn_to_sip : 1;
};

// The name of a technology: "TARN", "SIP", ... "UNKNOWN" (also for values
// outside 0..7).
const char *dialplan_get_tech_name(int tech);

// Loads the file into the application's table, replacing it: 0 when the
// file was read (bad lines are logged and skipped), -1 when it cannot be
// opened (the table is kept).
int dialplan_load(const char *path);

// Cleans every element of the table and frees it (the final clean-up; no
// lock is taken).
void dialplan_free_table();

// A new element equal to the given one (own texts, own compiled patterns,
// cloned proxy definitions, one more reference on cc), without
// original_line, to_ports and failover_proxy; null for null or when memory
// runs out. The caller cleans and frees it.
dialplan_element *dialplan_clone_element(const dialplan_element *e);

// Releases everything the element owns and clears it; the element's own
// storage stays. Null does nothing.
void dialplan_cleanup_element(dialplan_element *e);

// What the dial plan needs of the SIP port groups and proxy definitions.
// Until that part fills it, every member logs once and does nothing: group
// look-ups find no group, no proxy definition is made.
struct dialplan_sip_iface {
    // The group of a name (a one-letter kind prefix "p:" is dropped; a
    // "group:user" name also gives the user's index, else -1), or null.
    port_group_sip *(*get_port_group_sip_by_name)(const char *name, int *user_index);
    // The inbound proxy definition of a group and one of its users (-1 none).
    proxy_def *(*create_inbound_proxy_definition)(port_group_sip *pgs, int user_index);
    // The outbound proxy definition of a destination (group name or proxy text).
    proxy_def *(*create_outbound_proxy_definition_by_id)(const char *to_id);
    proxy_def *(*clone_proxy_definition)(const proxy_def *pd);
    void (*free_proxy_def)(proxy_def *pd);
};
// Installs the members given (null members keep the placeholders).
void dialplan_set_sip_iface(const dialplan_sip_iface *iface);
extern dialplan_sip_iface dialplan_sip;
