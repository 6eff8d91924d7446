// Cell broadcast: the message-id subscription, its supervision and re-arming,
// and joining and filing received broadcast pages.
#pragma once

extern char global_gsm_cbm_mids[256];
extern int global_gsm_cbm_needs_rearm[8];

void gsm_cbm_set_mids(const char *text);
// The configured id list in its normalised form ("0-65535" when empty).
void gsm_cbm_normalised_mids(char *out, int size);
void gsm_cbm_mark_for_rearm(int port);
int gsm_cbm_rearm_if_needed(int port, int blocking);
int gsm_cbm_subscription_is_current(const char *answer);
int gsm_cbm_cnmi_bm(const char *answer);
int gsm_cbm_incoming_pdu(const char *spool, const char *parts, int port, const char *pdu);
