// Records and code tables shared by every part of the GSM/LTE modem library.
#pragma once
#include <semaphore.h>

enum { GSM_MAX_PORTS = 6, GSM_PORT_TABLE = 7 };

// Command and event types. The event callback receives 0 for a line the modem
// sent on its own (an unsolicited line).
enum _gsm_event_type_t {
    GSM_EVENT_TYPE_AT = 16384,
    GSM_EVENT_TYPE_ATA = 16385,
    GSM_EVENT_TYPE_ATD = 16386,
    GSM_EVENT_TYPE_ATH = 16387,
    GSM_EVENT_TYPE_DIALING = 16388,
    GSM_EVENT_TYPE_RINGING = 16389,
    GSM_EVENT_TYPE_RELEASED = 16390,
    GSM_EVENT_TYPE_CONNECTED = 16391,
    GSM_EVENT_TYPE_DISCONNECTED = 16392,
    GSM_EVENT_TYPE_BUSY = 16393,
    GSM_EVENT_TYPE_NOCARRIER = 16394,
    GSM_EVENT_TYPE_NOANSWER = 16395,
    GSM_EVENT_TYPE_CMEERROR = 16396,
    GSM_EVENT_TYPE_CMSERROR = 16397,
    GSM_EVENT_TYPE_CCWA = 16398,
    GSM_EVENT_TYPE_CCFC = 16399,
    GSM_EVENT_TYPE_CLCC = 16400,
    GSM_EVENT_TYPE_CIEV = 16401,
    GSM_EVENT_TYPE_CMEE = 16402,
    GSM_EVENT_TYPE_CMTI = 16403,
    GSM_EVENT_TYPE_CMGR = 16404,
    GSM_EVENT_TYPE_CMGD = 16405,
    GSM_EVENT_TYPE_CMGS = 16406,
    GSM_EVENT_TYPE_CREG = 16407,
    GSM_EVENT_TYPE_CSCA = 16408,
    GSM_EVENT_TYPE_CSCS = 16409,
    GSM_EVENT_TYPE_CSSI = 16410,
    GSM_EVENT_TYPE_CSSU = 16411,
    GSM_EVENT_TYPE_RING = 16412,
    GSM_EVENT_TYPE_SPN = 16413,
    GSM_EVENT_TYPE_APP = 16414,
    GSM_EVENT_TYPE_PCT = 16415,
    GSM_EVENT_TYPE_CSQ = 16416,
    GSM_EVENT_TYPE_DVI = 16417,
    GSM_EVENT_TYPE_CMGF = 16418,
    GSM_EVENT_TYPE_CLIP = 16419,
    GSM_EVENT_TYPE_CLIR = 16420,
    GSM_EVENT_TYPE_CSMP = 16421,
    GSM_EVENT_TYPE_CNMI = 16422,
    GSM_EVENT_TYPE_CSCB = 16423,
    GSM_EVENT_TYPE_SERVINFO = 16424,
    GSM_EVENT_TYPE_ECAM = 16425,
    GSM_EVENT_TYPE_CIMI = 16426,
    GSM_EVENT_TYPE_COPS = 16427,
    GSM_EVENT_TYPE_COPN = 16428,
    GSM_EVENT_TYPE_GSN = 16429,
    GSM_EVENT_TYPE_CGSN = 16430,
    GSM_EVENT_TYPE_CGMR = 16431,
    GSM_EVENT_TYPE_ATV = 16432,
    GSM_EVENT_TYPE_CUSD = 16433,
    GSM_EVENT_TYPE_CPIN = 16434,
    GSM_EVENT_TYPE_CLCK = 16435,
    GSM_EVENT_TYPE_GENERIC_SHORT = 16436,
    GSM_EVENT_TYPE_GENERIC_LONG = 16437,
    GSM_EVENT_TYPE_CPMS = 16438,
    GSM_EVENT_TYPE_SWPKGV = 16439,
    GSM_EVENT_TYPE_CDIP = 16440,
    GSM_EVENT_TYPE_CSURV = 16441,
    GSM_EVENT_TYPE_CEER = 16442,
    GSM_EVENT_TYPE_UNKNOWN = 16443
};

// Reasons a modem initialisation step fails with (stored in errno).
enum _gsm_error_t {
    EWRONGPIN = 1,
    ENONETWORK = 2,
    EGSMBUSY = 3,
    EGSMCONF = 4,
    ESENDCMD = 5,
    EMODEMRST = 6,
    EFCLASS = 7,
    ESIMDET = 8,
    EPINCOUNTER = 9,
    ESELINT = 10,
    ESMSMODE = 11,
    EREGMODE = 12,
    EDIALMODE = 13,
    ECFUN = 14,
    ECIND = 15,
    ECMER = 16,
    ECSSN = 17,
    EINVALENC = 18
};

enum _libgsm_ctlport_state_t {
    GSM_PORT_STATE_NONE = 0,
    GSM_PORT_STATE_IDLE = 1,
    GSM_PORT_STATE_INUSE = 2,
    GSM_PORT_STATE_KILLME = 3,
    GSM_PORT_STATE_KILLED = 4
};

enum _libgsm_modem_state_t {
    GSM_MODEM_STATE_OK = 0,
    GSM_MODEM_STATE_WAIT_OK = 1,
    GSM_MODEM_STATE_RCVD_OK = 2
};

enum _libgsm_led_mode_t { GSM_LED_OFF = 0, GSM_LED_BLINK = 1, GSM_LED_ON = 2 };

enum _gsm_reg_status_t {
    GSM_REG_STATUS_NOT = 0,
    GSM_REG_STATUS_HOME = 1,
    GSM_REG_STATUS_SEARCH = 2,
    GSM_REG_STATUS_DENIED = 3,
    GSM_REG_STATUS_UNKNOWN = 4,
    GSM_REG_STATUS_ROAMING = 5
};

enum _gsm_event_status_t {
    GSM_EVENT_STATUS_OK = 0,
    GSM_EVENT_STATUS_ERROR = 1,
    GSM_EVENT_STATUS_NOTIFICATION = 2,
    GSM_EVENT_STATUS_UNKNOWN = 3
};

// Pauses after a written command line, in milliseconds.
enum _gsm_modem_timeout_t {
    GSM_TIMEOUT_DEFAULT = 10,
    GSM_TIMEOUT_5 = 5,
    GSM_TIMEOUT_10 = 10,
    GSM_TIMEOUT_15 = 15,
    GSM_TIMEOUT_20 = 20,
    GSM_TIMEOUT_25 = 25,
    GSM_TIMEOUT_30 = 30,
    GSM_TIMEOUT_40 = 40,
    GSM_TIMEOUT_50 = 50,
    GSM_TIMEOUT_100 = 100,
    GSM_TIMEOUT_200 = 200,
    GSM_TIMEOUT_300 = 300,
    GSM_TIMEOUT_400 = 400,
    GSM_TIMEOUT_500 = 500
};

enum _gsm_enc_t {
    GSM_ENC_ITU_T50 = 1,
    GSM_ENC_ISO88591 = 2,
    GSM_ENC_PCCP437 = 3,
    GSM_ENC_UCS2 = 4,
    GSM_ENC_GSM = 5
};

enum _gsm_number_format_t { GSM_NUM_NATIONAL = 129, GSM_NUM_INTERNATIONAL = 145 };

// One modem port's configuration, filled by the bring-up (which owns the
// texts) and completed by gsm_cfg_init.
typedef struct _gsm_config_t {
    int port;
    char pin[16];
    char smsc[24];
    int provider_mode;
    int provider_id;
    int access_technology;
    int codec;
    int cbm_enable;
    int gsm_enc;
    int dvi_cfg;
    int clip;
    char messages[2048]; // last initialisation error
    char *sms_webhook_url;
    char *sms_webhook_user;
    char *sms_webhook_secret;
    char *sms_webhook_type;
    char *sms_webhook_id;
    char *cbm_webhook_url;
    char *sms_extension;
    char *extension;
} gsm_config_t;

struct gsm_global_config {
    int max_sms_attempts;
    char *spool_failout;
};

// One AT exchange; also the record that the event callback receives.
struct gsm_command {
    gsm_command *list;
    int event_type;   // _gsm_event_type_t, 0 for an unsolicited line
    int port;
    char *send_cmd;   // command text, or for CMGS the gsm_outgoing_sms record
    char *response;   // the answer or the unsolicited line (valid during the callback)
    int notify;
    char **answer;    // caller's slot for a copy of the answer, or null
    void *context;
    sem_t *semablock; // null for commands nobody waits for
    int timeout;
};

typedef void (*gsm_event_callback)(gsm_command *cmd);
