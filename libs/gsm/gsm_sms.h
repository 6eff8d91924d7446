// SMS: the outgoing message record carried by CMGS commands, the spools of
// outgoing and incoming messages, PDU building and decoding, reports and the
// HTTP webhook.
#pragma once
#include "gsm_port.h"

#include <cstdio>
#include <string>
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

// Incoming message records.
struct _gsm_event_sms_recv_t {
    char save_mem[24];
    int save_pos;
};

struct _gsm_event_sms_read_t {
    char number[24];
    char date[64];
    char msg[2048];
    int save_pos;
};

// Outgoing.
int filter_sms_extension(const char *name);
int gsm_sms_outgoing(const char *spool);
int gsm_sms_send(int port, const char *number, const char *text, const char *filename);
// The same for a message file of the given outgoing spool.
int gsm_sms_send_from(const char *spool, int port, const char *number, const char *text,
                      const char *filename);
int make_cmgs_pdu_part(const char *number, const char *ucs2_part, int part, int total,
                       int delivery_report, gsm_outgoing_sms *sms);
int gsm_sms_log_result(gsm_outgoing_sms *sms, const char *filename, int port, int ref,
                       const char *number, int failed, const char *reason);
int gsm_sms_move_to_failout(int port, const char *spool, const char *filename,
                            const char *failout);
int create_failout_dir(const char *parent, const char *name, char *out, int size);
int cancel_sms(int port);
int gsm_sms_read_mem(int port, int index);
int gsm_sms_del_mem(int port, int index);

// Incoming.
_gsm_event_sms_recv_t *libgsm_event_sms_recv(int port, int status, const char *line);
_gsm_event_sms_read_t *libgsm_event_sms_read_mem(int port, int status, const char *answer,
                                                 int *dcs, int *first_octet);
int gsm_sms_incoming(const char *spool, const char *date, const char *sender, unsigned port,
                     const char *text, int dcs, int first_octet);
int gsm_sms_incoming_pdu(const char *spool, unsigned port, const char *answer);
int process_multipart_sms(const char *spool, const char *date, const char *sender, unsigned port,
                          const char *hex, int dcs);
int gsm_get_multipart_parameters(const char *header, int len, char *msgid, int msgid_size,
                                 int *part, int *total);
int libgsm_spool_claim(const char *tmp, const char *spool, const char *ext, char *out, int size);

// Webhook.
int notify_sms_webhook(const gsm_config_t *cfg, const char *date, const char *sender,
                       unsigned port, const char *type, const char *serial, const char *msgid,
                       int dcs, int parts, const char *text);
size_t gsm_curl_write_data(void *ptr, size_t size, size_t nmemb, void *userdata);
// Copies text escaped for a JSON string value, bounded (never cutting an
// escape or a UTF-8 sequence).
void gsm_json_escape(char *out, size_t size, const char *text);

// Spool file helpers: owner 1001:1001 (when permitted) and mode.
void gsm_spool_own(const char *path, int mode);
// Writes body to "<dir>/.in.<port>.<pid>.tmp" (mode 0660, owned); the name
// goes to tmp. 0, -13 when it cannot be opened, -5 when not fully written
// (the file is then removed).
int gsm_spool_write_tmp(const char *dir, unsigned port, const std::string &body, char *tmp,
                        size_t size);
// Reads a file of at most limit bytes; false when it cannot be opened.
bool gsm_read_small_file(const char *path, std::string &out, size_t limit);
// Appends a line to a report file (mode 0666, owned). 0, or -1.
int gsm_report_append(const char *path, const char *line);
