// ENUM routing of calls that leave by SIP: before the INVITE, the call's new
// destination is looked up as a NAPTR name under each search domain of the
// target SIP group in turn, without blocking the machine (a 100 ms poll
// timer checks the resolver socket). The outcome reaches the call's machine
// as a queued event: GENERAL_EVENT_DNS_ENUM_FINISHED (send the INVITE, to
// the ENUM address when one was found), the failover event (status 1001 on
// the INVITE result) or GENERAL_EVENT_DNS_ENUM_FAILED.
#pragma once

#include "sm_defs.h"

struct call_object;

// Polls without an answer before a search domain counts as timed out (the
// twelfth poll, about 1.2 s after the query).
enum { ENUM_POLLS_BEFORE_TIMEOUT = 11, ENUM_POLL_USEC = 100000 };
// dns_enum_internal_error_code values.
enum { ENUM_FOUND = 200, ENUM_NO_RESULT = 1404, ENUM_TIMED_OUT = 1408, ENUM_TIMEOUT_FAILOVER_STATUS = 1480 };

// 1 when the call wants a query now: it has a dial-plan line whose to_id
// names a SIP group with ENUM support and a search domain left at
// dns_enum_search_domain_index.
int sm_sip_enum_query_needed(call_object *co);
// Starts the query of the current search domain and (re-)arms the poll
// timer: {SM_SIP_INVITE_WAITING_FOR_DNS, no event}. A query that cannot
// start counts as no result on that domain.
statemachine_handle_retval sm_sip_perform_enum_query(call_object *co);
// 0 when the resolver socket has an answer within 1 ms, else -1 (also when
// the call holds no resolver context).
int check_enum_request_ready(call_object *co);
// Hands the answer to the resolver (its callback writes dns_enum_regex) and
// releases the resolver context: 0, or -1 when nothing could be read.
int enum_query_result_read(call_object *co);

SM_ACTION(sm_sip_enum_query);
SM_ACTION(sm_sip_enum_check_result);
