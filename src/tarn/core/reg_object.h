// One outgoing SIP registration or option validation of a SIP peer.
#pragma once
#include <cstdint>
#include <ctime>

#include "call_configuration.h"
#include "call_info.h"

struct statemachine;
struct kv_timer;
struct nua_s;
struct nua_handle_s;
struct sip_s;
struct tagi_s;
struct proxy_def;
struct port_group_sip;
struct port_group_sip_user;

struct reg_object {
    // same leading members as call_object
    int32_t index;
    int32_t callinfo;
    int32_t handletype;
    statemachine *sm;
    uint32_t sm_state;

    char ro_active_ip[32];
    nua_s *nua;
    nua_handle_s *nh;
    int32_t outbound_options;
    call_configuration cc;
    const sip_s *tmpsip;
    tagi_s *tmptags;
    int32_t last_nua_event;
    int32_t last_nua_status_code;
    char last_nua_status_text[256];
    proxy_def *pd;
    int32_t pid;
    kv_timer *timer;
    time_t last_time_registration_successful;
    time_t last_time_validation_successful;
    char hard_reregister;
    char manual_reregister_tried;
    port_group_sip *pgs;
    port_group_sip_user *pgsu;
    int32_t last_response_code_register;
    int32_t last_response_code_validate;
    int32_t only_validate;
    int32_t is_validated;
    int32_t is_pausing_registrations;
    int32_t force_reregister_with_new_handle;
    int32_t option_counter;
    int32_t snmp_last_is_validated;
    uint32_t snmp_last_register_sm_state;
    int32_t simulate_register_fail;
    int32_t evaluate_registrar_connect;
    int32_t register_probe_socket_fd;
    time_t register_handle_create_time;
    int32_t auth_counter;
};
