// SMS: the outgoing message record carried by CMGS commands, the spools of
// outgoing and incoming messages, PDU building and decoding, reports and the
// HTTP webhook.
#pragma once
#include "gsm_port.h"

#include <cstdio>
#include <ctime>
#include <sys/time.h>

struct gsm_outgoing_sms {
    char *msg;       // UTF-8
    char *number;    // destination
    char *filename;  // spool file name
    int counter;     // attempts (kept by the receiver of the CMGS answer)
    int pdu_mode;
    int pdu_part;
    int pdu_total_parts;
    int pdu_cmgs_length;
    char *pdu_block; // upper-case hex, ends with Ctrl-Z
    struct timeval start_timestamp;
};

int gsm_sms_free(gsm_outgoing_sms *sms);

// Text-mode message body after the modem's "> " prompt.
int gsm_sms_msg_write(int port, const char *text);

// Appends a delivery-report line for a "+CDS:" report (text mode) or the
// status-report PDU that follows it (PDU mode); *ref receives the message
// reference (-1 when unreadable). 0, or -1 when the report file cannot be
// written.
int gsm_sms_log_delivery(int port, const char *report, int *ref);
