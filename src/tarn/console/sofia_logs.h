// The module logs of sofia-sip that the console's "sl" command sets; the
// library exports them without headers.
#pragma once
#include <sofia-sip/su_log.h>

extern "C" {
extern su_log_t tport_log[];
extern su_log_t iptsec_log[];
extern su_log_t nta_log[];
extern su_log_t stun_log[];
extern su_log_t nth_client_log[];
extern su_log_t nth_server_log[];
extern su_log_t sresolv_log[];
extern su_log_t nua_log[];
extern su_log_t soa_log[];
extern su_log_t nea_log[];
}
