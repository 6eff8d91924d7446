// Voice calls: port claim and dial, answer and hang-up commands, the parsers
// of caller identity and call-state reports, and further call operations.
#pragma once

struct _gsm_event_clip_t {
    char number[24];
    char name[256];
    int type;     // 129 national, 145 international
    int validity; // CLI validity field
};

enum _gsm_call_hold_t {
    GSM_CALL_HOLD_RELEASE = 0,
    GSM_CALL_HOLD_ADD = 1,
    GSM_CALL_ACTV_RELEASE = 2,
    GSM_CALL_ACTV_HOLD = 3,
    GSM_CALL_TRANSFER = 4
};

enum _gsm_fw_reason_t {
    GSM_FW_REASON_UNCONDITIONAL = 0,
    GSM_FW_REASON_MOBILE_BUSY = 1,
    GSM_FW_REASON_NO_REPLY = 2,
    GSM_FW_REASON_NOT_REACHABLE = 3,
    GSM_FW_REASON_ALL_CALLS = 4,
    GSM_FW_REASON_ALL_COND_CALLS = 5
};

enum _gsm_fw_cmd_t {
    GSM_FW_CMD_DISABLE = 0,
    GSM_FW_CMD_ENABLE = 1,
    GSM_FW_CMD_QUERY_STATUS = 2,
    GSM_FW_CMD_REGISTRATION = 3,
    GSM_FW_CMD_ERASURE = 4
};

enum _gsm_call_class_t {
    GSM_CLASS_VOICE = 1,
    GSM_CLASS_DATA = 2,
    GSM_CLASS_FAX = 4,
    GSM_CLASS_SMS = 8,
    GSM_CLASS_DATA_CIRCUIT_SYNC = 16,
    GSM_CLASS_DATA_CIRCUIT_ASYNC = 32,
    GSM_CLASS_DEDICATED_PACKET_ACCESS = 64,
    GSM_CLASS_DEDICATED_PAD_ACCESS = 128
};

enum _gsm_dvi_cfg_t {
    GSM_DVI_ONE_MASTER = 0,
    GSM_DVI_ONE_SLAVE = 1,
    GSM_DVI_TWO_MASTER = 2,
    GSM_DVI_TWO_SLAVE = 3
};

// Whether a number may go into ATD: 1 to 64 characters of 0-9 * # + A-D.
int gsm_dial_number_is_valid(const char *number);

// Claims the port and queues "ATD<number>;" (";" only for a voice call).
// Returns the port; -EINVAL for a null or undiallable number, -EBUSY when
// the port is not idle, -EAGAIN when the queue refused (the port is then
// released again).
int gsm_call_num_port(int port, const char *number, int nonvoice);
int gsm_call_answ(int port);
int gsm_call_hangup(int port);
int gsm_send_event(int port, int event);

// New record (the caller frees it), null when the line has no "+CLIP: " or
// no comma after it.
_gsm_event_clip_t *libgsm_parse_clip(int port, const char *line);
// The call status of the text after "#ECAM:" (-1 with fewer than two
// fields); *call_id receives the first field.
int libgsm_event_ecam(int port, int status, const char *text, int *call_id);

// Operations sent at once (no caller in the daemon).
int gsm_call_num(const char *number);
int gsm_port_get_free();
int gsm_call_holding(int port, int hold, unsigned call_index);
int gsm_call_get_list(int port);
int gsm_send_dtmf(int port, char tone, unsigned duration);
int gsm_modem_clip(int port, unsigned on);
int gsm_modem_clir(int port, unsigned mode);
int gsm_modem_dvi_conf(int port, int role);
int gsm_modem_call_forwarding(int port, unsigned reason, unsigned command, unsigned cls,
                              const char *number, unsigned type, unsigned time);
int gsm_modem_call_waiting(int port, unsigned command, unsigned report, unsigned cls);
int gsm_modem_sms_incoming_sound_off(int port);
int gsm_modem_error_reporting(int port, int mode);
