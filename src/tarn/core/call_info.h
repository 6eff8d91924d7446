// Kind and direction of what a pooled object serves.
#pragma once

enum call_info {
    CI_FREE = 0,
    CI_INUSE = 1,
    CI_SIP_TO_SIP = 4098,
    CI_ISDN_TO_SIP = 4100,
    CI_ANALOG_TO_SIP = 4104,
    CI_GSM_TO_SIP = 4112,
    CI_TARN_TO_SIP = 4128,
    CI_CAS_TO_SIP = 4160,
    CI_SIP_TO_ISDN = 8194,
    CI_TELNET_TO_ISDN = 8320,
    CI_SIP_TO_ANALOG = 16386,
    CI_SIP_TO_GSM = 32770,
    CI_SIP_TO_TARN = 65538,
    CI_ISDN_TO_TARN = 65540,
    CI_SIP_TO_CAS = 131074,
    CI_SIP_TO_UNKNOWN = 262146,
    CI_INTERNAL = 524288,
    CI_GSM_TO_SIP_EXTENSIONS = 524289,
    CI_REGISTER = 1048576,
    CI_SIP_TO_ITAPI = 2097154,
};

enum handle_type {
    HT_CALL = 1,
    HT_REGISTRATION = 2,
};
