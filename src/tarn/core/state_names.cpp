#include "state_names.h"

#include <sofia-sip/nua.h>

#include "call_info.h"
#include "call_object.h"
#include "call_services.h"
#include "gsm_queue.h"
#include "gsm_types.h"
#include "log.h"
#include "reg_object.h"
#include "timer.h"

const char *const nua_event_list[57] = {
    "NUA_I_ERROR",
    "NUA_I_INVITE",
    "NUA_I_CANCEL",
    "NUA_I_ACK",
    "NUA_I_FORK",
    "NUA_I_ACTIVE",
    "NUA_I_TERMINATED",
    "NUA_I_STATE",
    "NUA_I_OUTBOUND",
    "NUA_I_BYE",
    "NUA_I_OPTIONS",
    "NUA_I_REFER",
    "NUA_I_PUBLISH",
    "NUA_I_PRACK",
    "NUA_I_INFO",
    "NUA_I_UPDATE",
    "NUA_I_MESSAGE",
    "NUA_I_CHAT",
    "NUA_I_SUBSCRIBE",
    "NUA_I_SUBSCRIPTION",
    "NUA_I_NOTIFY",
    "NUA_I_METHOD",
    "NUA_I_MEDIA_ERROR",
    "NUA_R_SET_PARAMS",
    "NUA_R_GET_PARAMS",
    "NUA_R_SHUTDOWN",
    "NUA_R_NOTIFIER",
    "NUA_R_TERMINATE",
    "NUA_R_AUTHORIZE",
    "NUA_R_REGISTER",
    "NUA_R_UNREGISTER",
    "NUA_R_INVITE",
    "NUA_R_CANCEL",
    "NUA_R_BYE",
    "NUA_R_OPTIONS",
    "NUA_R_REFER",
    "NUA_R_PUBLISH",
    "NUA_R_UNPUBLISH",
    "NUA_R_INFO",
    "NUA_R_PRACK",
    "NUA_R_UPDATE",
    "NUA_R_MESSAGE",
    "NUA_R_CHAT",
    "NUA_R_SUBSCRIBE",
    "NUA_R_UNSUBSCRIBE",
    "NUA_R_NOTIFY",
    "NUA_R_METHOD",
    "NUA_R_AUTHENTICATE ",
    "NUA_R_REDIRECT",
    "NUA_R_DESTROY",
    "NUA_R_RESPOND",
    "NUA_R_NIT_RESPOND",
    "NUA_R_ACK",
    "NUA_I_NETWORK_CHANGED",
    "NUA_I_REGISTER",
    "NUA_R_UNREF",
    "NUA_R_HANDLE_UNREF",
};
// Code 1002: the 183 answer that carries the wait-for-cancel header.
const char *const sip_extra_event_list[1] = {
    "SIP_EVENT_183_WAIT_FOR_CANCEL",
};
const char *const isdn_event_list[43] = {
    "EVENT_NOTHING",
    "EVENT_TONE_GENERATE",
    "EVENT_BCHAN_DATA",
    "EVENT_BCHAN_ACTIVATED",
    "EVENT_BCHAN_ERROR",
    "EVENT_CLEANUP",
    "EVENT_PROCEEDING",
    "EVENT_PROGRESS",
    "EVENT_SETUP",
    "EVENT_ALERTING",
    "EVENT_CONNECT",
    "EVENT_SETUP_ACKNOWLEDGE",
    "EVENT_CONNECT_ACKNOWLEDGE",
    "EVENT_USER_INFORMATION",
    "EVENT_SUSPEND_REJECT",
    "EVENT_RESUME_REJECT",
    "EVENT_HOLD",
    "EVENT_SUSPEND",
    "EVENT_RESUME",
    "EVENT_HOLD_ACKNOWLEDGE",
    "EVENT_SUSPEND_ACKNOWLEDGE",
    "EVENT_RESUME_ACKNOWLEDGE",
    "EVENT_HOLD_REJECT",
    "EVENT_RETRIEVE",
    "EVENT_RETRIEVE_ACKNOWLEDGE",
    "EVENT_RETRIEVE_REJECT",
    "EVENT_DISCONNECT",
    "EVENT_RESTART",
    "EVENT_RELEASE",
    "EVENT_RELEASE_COMPLETE",
    "EVENT_FACILITY",
    "EVENT_NOTIFY",
    "EVENT_STATUS_ENQUIRY",
    "EVENT_INFORMATION",
    "EVENT_STATUS",
    "EVENT_TIMEOUT",
    "EVENT_DTMF_TONE",
    "EVENT_NEW_L3ID",
    "EVENT_NEW_BC",
    "EVENT_PORT_ALARM",
    "EVENT_NEW_CHANNEL",
    "EVENT_REGISTER",
    "EVENT_UNKNOWN",
};
const char *const gsm_event_list[60] = {
    "GSM_EVENT_TYPE_AT",
    "GSM_EVENT_TYPE_ATA",
    "GSM_EVENT_TYPE_ATD",
    "GSM_EVENT_TYPE_ATH",
    "GSM_EVENT_TYPE_DIALING",
    "GSM_EVENT_TYPE_RINGING",
    "GSM_EVENT_TYPE_RELEASED",
    "GSM_EVENT_TYPE_CONNECTED",
    "GSM_EVENT_TYPE_DISCONNECTED",
    "GSM_EVENT_TYPE_BUSY",
    "GSM_EVENT_TYPE_NOCARRIER",
    "GSM_EVENT_TYPE_NOANSWER",
    "GSM_EVENT_TYPE_CMEERROR",
    "GSM_EVENT_TYPE_CMSERROR",
    "GSM_EVENT_TYPE_CCWA",
    "GSM_EVENT_TYPE_CCFC",
    "GSM_EVENT_TYPE_CLCC",
    "GSM_EVENT_TYPE_CIEV",
    "GSM_EVENT_TYPE_CMEE",
    "GSM_EVENT_TYPE_CMTI",
    "GSM_EVENT_TYPE_CMGR",
    "GSM_EVENT_TYPE_CMGD",
    "GSM_EVENT_TYPE_CMGS",
    "GSM_EVENT_TYPE_CREG",
    "GSM_EVENT_TYPE_CSCA",
    "GSM_EVENT_TYPE_CSCS",
    "GSM_EVENT_TYPE_CSSI",
    "GSM_EVENT_TYPE_CSSU",
    "GSM_EVENT_TYPE_RING",
    "GSM_EVENT_TYPE_SPN",
    "GSM_EVENT_TYPE_APP",
    "GSM_EVENT_TYPE_PCT",
    "GSM_EVENT_TYPE_CSQ",
    "GSM_EVENT_TYPE_DVI",
    "GSM_EVENT_TYPE_CMGF",
    "GSM_EVENT_TYPE_CLIP",
    "GSM_EVENT_TYPE_CLIR",
    "GSM_EVENT_TYPE_CSMP",
    "GSM_EVENT_TYPE_CNMI",
    "GSM_EVENT_TYPE_CSCB",
    "GSM_EVENT_TYPE_SERVINFO",
    "GSM_EVENT_TYPE_ECAM",
    "GSM_EVENT_TYPE_CIMI",
    "GSM_EVENT_TYPE_COPS",
    "GSM_EVENT_TYPE_COPN",
    "GSM_EVENT_TYPE_GSN",
    "GSM_EVENT_TYPE_CGSN",
    "GSM_EVENT_TYPE_CGMR",
    "GSM_EVENT_TYPE_ATV",
    "GSM_EVENT_TYPE_CUSD",
    "GSM_EVENT_TYPE_CPIN",
    "GSM_EVENT_TYPE_CLCK",
    "GSM_EVENT_TYPE_GENERIC_SHORT",
    "GSM_EVENT_TYPE_GENERIC_LONG",
    "GSM_EVENT_TYPE_CPMS",
    "GSM_EVENT_TYPE_SWPKGV",
    "GSM_EVENT_TYPE_CDIP",
    "GSM_EVENT_TYPE_CSURV",
    "GSM_EVENT_TYPE_CEER",
    "GSM_EVENT_TYPE_UNKNOWN",
};
const char *const cas_event_list[23] = {
    "CAS_EVENT_UNKNOWN",
    "CAS_EVENT_OFFHOOK",
    "CAS_EVENT_ONHOOK",
    "CAS_EVENT_POLARITY",
    "CAS_EVENT_RINGING",
    "CAS_EVENT_IDLE",
    "CAS_EVENT_RINGOFF",
    "CAS_EVENT_FLASHHOOK",
    "CAS_EVENT_DISMANTLE",
    "CAS_EVENT_BUSY_TONE",
    "CAS_EVENT_UNOBTAINABLE_TONE",
    "CAS_EVENT_MESSAGE_WAITING_DELIVERED",
    "CAS_EVENT_TAXPULSE12",
    "CAS_EVENT_TAXPULSE16",
    "CAS_EVENT_INBOUND_RINGING_ONHOOK",
    "CAS_EVENT_RINGING_START",
    "CAS_EVENT_RINGING_PAUSE",
    "CAS_EVENT_SEIZE",
    "CAS_EVENT_SEIZE_ACKNOWLEDGE",
    "CAS_EVENT_DIAL_OUTBOUND",
    "CAS_EVENT_MFDIAL_FINISHED",
    "CAS_EVENT_MFBUSY",
    "CAS_EVENT_GENERATE_CID",
};
const char *const general_event_list[41] = {
    "GENERAL_EVENT_MSP_FAX_TONE_DETECTED",
    "GENERAL_EVENT_SEND_INVITE",
    "GENERAL_EVENT_FINISH_CALL",
    "GENERAL_EVENT_ANALOG_DIALTONE_DETECTED",
    "GENERAL_EVENT_ANALOG_RINGBACKTONE_DETECTED",
    "GENERAL_EVENT_ANALOG_BUSYTONE_DETECTED",
    "GENERAL_EVENT_ANALOG_UNOBTAINABLETONE_DETECTED",
    "GENERAL_EVENT_ANALOG_INIT_INCOMING",
    "GENERAL_EVENT_ANALOG_DTMF_DETECTED",
    "GENERAL_EVENT_ANALOG_CALL_PROGRESS_TONE_DETECTED",
    "GENERAL_EVENT_ANALOG_FXO_DIALING_FINISHED",
    "GENERAL_EVENT_ANALOG_GOT_CID",
    "GENERAL_EVENT_DIALPLAN_MATCH_FOUND",
    "GENERAL_EVENT_FAX_REDIRECT",
    "GENERAL_EVENT_GSM_INIT_INCOMING",
    "GENERAL_EVENT_GSM_DIALING_FINISHED",
    "GENERAL_EVENT_RTP_LOOPBACK",
    "GENERAL_EVENT_GSM_GOT_CID",
    "GENERAL_EVENT_ANALOG_RINGBACKTONE_END_DETECTED",
    "GENERAL_EVENT_REGISTRATION_REFRESH",
    "GENERAL_EVENT_DIALPLAN_GO_ON",
    "GENERAL_EVENT_CAS_FXO_DIALTONE_DETECTED",
    "GENERAL_EVENT_CAS_FXO_DIALING_FINISHED",
    "GENERAL_EVENT_CAS_DTMF_DETECTED",
    "GENERAL_EVENT_CAS_INIT_INCOMING",
    "GENERAL_EVENT_CAS_MF_SIGNAL_DETECTED",
    "GENERAL_EVENT_PSTN_NTENERGY_DET",
    "GENERAL_EVENT_DNS_ENUM_FINISHED",
    "GENERAL_EVENT_DNS_ENUM_FAILED",
    "GENERAL_EVENT_ITAPI_INIT_OUTGOING",
    "GENERAL_EVENT_ITAPI_CREATE_SOCKET",
    "GENERAL_EVENT_ITAPI_CONNECT",
    "GENERAL_EVENT_ITAPI_DISCONNECT",
    "GENERAL_EVENT_ITAPI_ALERTING",
    "GENERAL_EVENT_ITAPI_PROGRESS",
    "GENERAL_EVENT_ITAPI_PROCEEDING",
    "GENERAL_EVENT_ITAPI_UPDATE_CHANNEL",
    "GENERAL_EVENT_ITAPI_HANGUP_RECEIVED",
    "GENERAL_EVENT_VALIDATE_OPTIONS",
    "GENERAL_EVENT_TRY_OTHER_ISDN_PORT",
    "GENERAL_EVENT_RESTART_TRANSCODING",
};
const char *const timer_event_list[31] = {
    "T_EVENT_DIALING",
    "T_EVENT_REG_REFRESH",
    "T_EVENT_GSM_TICKER",
    "T_EVENT_CLEANUP",
    "T_EVENT_FEATURE_TIMER_F",
    "T_EVENT_FEATURE_TIMER_T",
    "T_EVENT_FEATURE_TIMER_FLUSH",
    "T_EVENT_FORCE_T38",
    "T_EVENT_RINGBACK_TIMEOUT",
    "T_EVENT_ANALOG_WAIT_FOR_CID_TIMEOUT",
    "T_EVENT_ANALOG_ONHOOK",
    "T_EVENT_FAILOVER_TIMEOUT",
    "T_EVENT_EXPIRES_TIMEOUT",
    "T_EVENT_DIALTONE_DETECTION_TIMEOUT",
    "T_EVENT_SIP_T0_TIMEOUT",
    "T_EVENT_SIP_T180_TIMEOUT",
    "T_EVENT_SIP_T183_TIMEOUT",
    "T_EVENT_SIP_T200_TIMEOUT",
    "T_EVENT_GSM_WAIT_FOR_CID_TIMEOUT",
    "T_EVENT_RTP_CHECK_INBOUND_TRAFFIC",
    "T_EVENT_FXO_CPT_DIALING_TIMER",
    "T_EVENT_FXO_CPT_POLREV_TIMER",
    "T_EVENT_FXO_ALERTING_ENDED_TIMER",
    "T_EVENT_STATE_EVENT_MISSING_SAFEGUARD",
    "T_EVENT_AOC_OUTGOING_TIMER",
    "T_EVENT_CAS_ONHOOK",
    "T_EVENT_DNS_ENUM_TIMER",
    "T_EVENT_T38_REINVITE_ON_FIRST_LEG",
    "T_EVENT_T38_REINVITE_ON_SECOND_LEG",
    "T_EVENT_NONREGISTRATION_VALIDATE_OPTIONS",
    "T_EVENT_FXS_WINK_TIMER",
};
const char *const analog_event_list[20] = {
    "ANALOG_EVENT_UNKNOWN",
    "ANALOG_EVENT_OFFHOOK",
    "ANALOG_EVENT_ONHOOK",
    "ANALOG_EVENT_POLARITY",
    "ANALOG_EVENT_RINGING",
    "ANALOG_EVENT_RINGING_PENDING",
    "ANALOG_EVENT_IDLE",
    "ANALOG_EVENT_IDLE_PENDING",
    "ANALOG_EVENT_RINGOFF",
    "ANALOG_EVENT_FLASHHOOK",
    "ANALOG_EVENT_DISMANTLE",
    "ANALOG_EVENT_BUSY_TONE",
    "ANALOG_EVENT_UNOBTAINABLE_TONE",
    "ANALOG_EVENT_MESSAGE_WAITING_DELIVERED",
    "ANALOG_EVENT_TAXPULSE12",
    "ANALOG_EVENT_TAXPULSE16",
    "ANALOG_EVENT_POLARITY_STANDARD",
    "ANALOG_EVENT_POLARITY_CONNECT",
    "ANALOG_EVENT_POLARITY_DISCONNECT",
    "ANALOG_EVENT_POLARITY_WINK",
};
const char *const callobject_callstate_list[16] = {
    "SM_UNKNOWN",
    "SM_INACTIVE",
    "SM_CALL_ACTIVE",
    "SM_DISMANTLING",
    "SM_DESTROYING",
    "SM_CALL_ACTIVE_REFERRING",
    "SM_SIP_INVITE_SENT",
    "SM_SIP_RINGING",
    "SM_SIP_INVITE_RECEIVED",
    "SM_SIP_INVITE_SENT_OVERLAP_DIALING",
    "SM_SIP_INVITE_SENT_OD_484",
    "SM_SIP_INVITE_SENT_OD",
    "SM_SIP_INVITE_WAITING_FOR_DNS",
    "SM_SIP_INVITE_TRANSFER_REINVITE_1",
    "SM_SIP_INVITE_TRANSFER_REINVITE_2",
    "SM_SIP_INVITE_TRANSFER_REINVITE_3",
};
const char *const callobject_callstate_list_isdn[4] = {
    "SM_UNKNOWN",
    "SM_ISDN_RINGING",
    "SM_ISDN_WAIT_FOR_DIALING",
    "SM_ISDN_WAIT_FOR_DIALING_OD",
};
const char *const callobject_callstate_list_gsm[5] = {
    "SM_UNKNOWN",
    "SM_GSM_DIALED",
    "SM_GSM_RINGING",
    "SM_GSM_INBOUND",
    "SM_GSM_WAIT_FOR_CID",
};
const char *const callobject_callstate_list_itapi[5] = {
    "SM_UNKNOWN",
    "SM_ITAPI_SOCKET_CREATED",
    "SM_ITAPI_DIALED",
    "SM_ITAPI_ALERTING",
    "SM_ITAPI_SOCKET_PREPARING",
};
const char *const callobject_callstate_list_cas[17] = {
    "SM_UNKNOWN",
    "SM_CAS_OFFHOOK",
    "SM_CAS_WAIT_FOR_DIALING",
    "SM_CAS_DIALING_FINISHED",
    "SM_CAS_RINGING",
    "SM_CAS_WAIT_FOR_IDLE",
    "SM_CAS_WAIT_FOR_CID",
    "SM_CAS_WAIT_FOR_DIALING_OD",
    "SM_CAS_CID_WATCHDOG",
    "SM_CAS_MF_SIGNALLING",
    "SM_CAS_CALL_ON_HOLD_REINVITE",
    "SM_CAS_CALL_ON_RETRIEVE_REINVITE",
    "SM_CAS_CALL_REFERRING",
    "SM_CAS_HOLD_IN_PROGRESS",
    "SM_CAS_CALL_REFERRED_WAITING",
    "SM_CAS_CALL_HOLD_CALL_FAILED",
    "SM_CAS_MESSAGE_WAITING",
};
const char *const callobject_callstate_list_analog_fxs[14] = {
    "SM_UNKNOWN",
    "SM_ANALOG_FXS_OFFHOOK",
    "SM_ANALOG_FXS_RINGING",
    "SM_ANALOG_FXS_WAIT_FOR_DIALING",
    "SM_ANALOG_FXS_WAIT_FOR_DIALING_OD",
    "SM_ANALOG_FXS_CALL_ON_HOLD",
    "SM_ANALOG_FXS_CALL_ON_HOLD_REINVITE",
    "SM_ANALOG_FXS_CALL_ON_RETRIEVE_REINVITE",
    "SM_ANALOG_FXS_CALL_REFERRING",
    "SM_ANALOG_FXS_HOLD_IN_PROGRESS",
    "SM_ANALOG_FXS_CALL_REFERRED_WAITING",
    "SM_ANALOG_FXS_CALL_HOLD_CALL_FAILED",
    "SM_ANALOG_FXS_MESSAGE_WAITING",
    "SM_ANALOG_FXS_WAIT_FOR_ONHOOK",
};
const char *const callobject_callstate_list_analog_fxo[7] = {
    "SM_UNKNOWN",
    "SM_ANALOG_FXO_OFFHOOK",
    "SM_ANALOG_FXO_RINGING",
    "SM_ANALOG_FXO_DIALING_FINISHED",
    "SM_ANALOG_FXO_WAIT_FOR_IDLE",
    "SM_ANALOG_FXO_WAIT_FOR_CID",
    "SM_ANALOG_FXO_CID_WATCHDOG",
};
const char *const regobject_callstate_list[11] = {
    "SM_UNKNOWN",
    "SM_REG_INACTIVE",
    "SM_SIP_REGISTRATION_PENDING",
    "SM_SIP_REGISTRATION_SUCCESSFUL",
    "SM_SIP_REGISTRATION_FAILED",
    "SM_SIP_REGISTRATION_DISMANTLING",
    "SM_SIP_REGISTRATION_CLEANUP",
    "SM_SIP_REGISTRATION_UNREGISTERED",
    "SM_SIP_NOT_VALIDATED_BY_OPTIONS",
    "SM_SIP_VALIDATED_BY_OPTIONS",
    "SM_SIP_WAITING_FOR_SLOT",
};
const char *const nua_callstate_list[11] = {
    "nua_callstate_init - Initial state",
    "nua_callstate_authenticating - 401/407 received",
    "nua_callstate_calling - INVITE sent",
    "nua_callstate_proceeding - 18X received",
    "nua_callstate_completing - 2XX received",
    "nua_callstate_received - INVITE received (and 100 Trying sent)",
    "nua_callstate_early - 18X sent",
    "nua_callstate_completed - 2XX sent",
    "nua_callstate_ready - 2XX and ACK received/sent",
    "nua_callstate_terminating - BYE sent",
    "nua_callstate_terminated - BYE complete",
};
const char *const isdn_history_events[9] = {
    "SETUP",
    "SETUPACKNOWLEDGE",
    "PROCEEDING",
    "PROGRESS",
    "ALERTING",
    "CONNECT",
    "DISCONNECT",
    "RELEASE",
    "RELEASECOMPLETE",
};
const provider_entry provider_map[257] = {
    {101, "Test 001 01"},
    {102, "Test 001 02"},
    {20201, "GR COSMOTE"},
    {20205, "vodafone GR"},
    {20209, "WIND GR"},
    {20210, "WIND GR"},
    {20402, "Tele2 NL"},
    {20404, "vodafone NL"},
    {20408, "NL KPN"},
    {20412, "NL Telfort"},
    {20416, "T-Mobile NL"},
    {20420, "Orange NL"},
    {20601, "Proximus"},
    {20610, "Mobistar SA/NV"},
    {20620, "BASE"},
    {20801, "Orange F"},
    {20802, "F-Contact"},
    {20809, "F SFR"},
    {20810, "F SFR"},
    {20811, "SFR FEMTO"},
    {20813, "F - Contact"},
    {20815, "Free"},
    {20820, "F-Bouygues Telecom"},
    {20888, "F - Contact"},
    {21201, "vala"},
    {21210, "Monaco"},
    {21303, "ANDORRA-MOBILAND"},
    {21401, "vodafone ES"},
    {21403, "Orange SP"},
    {21404, "YOIGO"},
    {21407, "Movistar"},
    {21601, "Telenor HU"},
    {21630, "Telekom HU"},
    {21670, "vodafone HU"},
    {21803, "HT ERONET"},
    {21805, "m-tel"},
    {21890, "BH Mobile"},
    {21901, "HT HR"},
    {21902, "Tele2 HR"},
    {21910, "HR VIP"},
    {22001, "Telenor SRB"},
    {22002, "ProMonte"},
    {22003, "mt-s"},
    {22004, "T-Mobile CG"},
    {22005, "Vip SRB"},
    {22201, "I TIM"},
    {22210, "vodafone IT"},
    {22288, "I WIND"},
    {22298, "IT BLU"},
    {22299, "3 ITA"},
    {22601, "RO Vodafone RO"},
    {22603, "TELEKOM.RO"},
    {22605, "RO Digi.Mobil"},
    {22610, "RO ORANGE"},
    {22615, "RO 2K Telecom"},
    {22800, "In&Phone"},
    {22801, "Swisscom"},
    {22802, "Sunrise"},
    {22803, "Salt"},
    {22807, "In&Phone"},
    {22815, "OnAir"},
    {23001, "T-Mobile CZ"},
    {23002, "O2 - CZ"},
    {23003, "Vodafone CZ"},
    {23101, "Orange SK"},
    {23102, "Telekom SK"},
    {23103, "SWAN SK"},
    {23106, "O2 - SK"},
    {23201, "A1"},
    {23203, "T-Mobile A"},
    {23205, "3 AT"},
    {23207, "telering"},
    {23210, "3 AT"},
    {23212, "A1"},
    {23403, "Airtel-Vodafone"},
    {23407, "Cable&Wireless UK"},
    {23410, "O2 - UK"},
    {23415, "vodafone UK"},
    {23416, "TalkTalk"},
    {23419, "PMN UK"},
    {23420, "3 UK"},
    {23428, "Marathon"},
    {23430, "EE"},
    {23431, "EE"},
    {23432, "EE"},
    {23433, "EE"},
    {23450, "JT"},
    {23455, "Sure"},
    {23458, "Manx Telecom"},
    {23801, "TDC"},
    {23802, "Telenor DK"},
    {23806, "3 DK"},
    {23820, "Telia DK"},
    {23830, "Orange DK"},
    {23866, "Telia-Telenor DK"},
    {23877, "Telenor DK"},
    {24001, "TELIA S"},
    {24002, "3 SE"},
    {24003, "Orange"},
    {24004, "SWEDEN"},
    {24005, "Sweden 3G"},
    {24007, "Tele2"},
    {24008, "Telenor SE"},
    {24024, "Sweden Mobile"},
    {24201, "N Telenor"},
    {24202, "N NetCom"},
    {24204, "Mobile Norway"},
    {24205, "Mobile Norway"},
    {24214, "ice.net"},
    {24403, "FI DNA"},
    {24405, "FI elisa"},
    {24409, "FI FINNET"},
    {24412, "FI DNA"},
    {24414, "FI AMT"},
    {24421, "FI elisa"},
    {24436, "DNA - Sonera FI"},
    {24491, "FI SONERA"},
    {24601, "OMNITEL LT"},
    {24602, "LT BITE GSM"},
    {24603, "Tele2 LT"},
    {24701, "LV LMT"},
    {24702, "Tele2 LV"},
    {24705, "BITE LV"},
    {24801, "Telia"},
    {24802, "Elisa EE"},
    {24803, "Tele2 EE"},
    {25001, "MTS RUS"},
    {25002, "MegaFon RUS"},
    {25003, "Tele2 RU"},
    {25004, "RUS_SCN"},
    {25005, "ROSTELECOM"},
    {25007, "RUS SMARTS"},
    {25010, "RUS DTC"},
    {25011, "ORENSOT"},
    {25012, "ROSTELECOM"},
    {25013, "RUS Kuban-GSM"},
    {25015, "RUS SMARTS"},
    {25016, "NTC"},
    {25017, "ROSTELECOM"},
    {25019, "RUS INDIGO"},
    {25020, "Tele2 RU"},
    {25027, "LETAI"},
    {25028, "voda"},
    {25035, "MOTIV"},
    {25037, "KODOTEL"},
    {25038, "ROSTELECOM"},
    {25039, "ROSTELECOM"},
    {25044, "NC-GSM"},
    {25092, "Primtel"},
    {25093, "Telecom XXI RUS"},
    {25099, "Beeline"},
    {25501, "VODAFONE"},
    {25502, "Beeline UA"},
    {25503, "UA-KYIVSTAR"},
    {25505, "UA-GT"},
    {25506, "life-)"},
    {25507, "TriMob"},
    {25701, "BY VELCOM"},
    {25702, "MTS BY"},
    {25704, "life-) BY"},
    {25901, "Orange MD"},
    {25902, "Moldcell"},
    {25905, "UNITE"},
    {26001, "Plus"},
    {26002, "T-Mobile.pl"},
    {26003, "Orange PL"},
    {26006, "Play"},
    {26201, "Telekom.de"},
    {26202, "Vodafone.de"},
    {26203, "E-Plus"},
    {26207, "o2 - de"},
    {26208, "o2 - de"},
    {26213, "MobilCom"},
    {26214, "Quam"},
    {26601, "GIBTEL"},
    {26606, "CTS"},
    {26609, "Shine"},
    {26801, "vodafone P"},
    {26803, "NOS"},
    {26806, "MEO"},
    {27001, "POST"},
    {27077, "L TANGO"},
    {27099, "L Orange-LU"},
    {27201, "vodafone IE"},
    {27202, "3"},
    {27203, "IRL - METEOR"},
    {27205, "3 IRL"},
    {27401, "IS SIMINN"},
    {27402, "Vodafone"},
    {27403, "IS Islandssimi hf"},
    {27404, "Viking"},
    {27408, "IS OnWaves"},
    {27411, "NOVA IS"},
    {27412, "IS TAL"},
    {27601, "Telekom.al"},
    {27602, "Voda AL"},
    {27603, "EAGLE AL"},
    {27604, "PLUS AL"},
    {27801, "vodafone MT"},
    {27821, "go mobile"},
    {27877, "Melita"},
    {28001, "Cyta-Voda"},
    {28010, "MTN"},
    {28020, "PrimeTel PLC"},
    {28201, "GEO-GEOCELL"},
    {28202, "MAGTI-GSM-GEO"},
    {28204, "BEELINE GE"},
    {28301, "Beeline AM"},
    {28305, "MTS ARM"},
    {28310, "Orange AM"},
    {28401, "Mtel"},
    {28403, "Vivacom BG"},
    {28405, "Telenor BG"},
    {28601, "TR TURKCELL"},
    {28602, "Vodafone Turkey"},
    {28603, "AVEA"},
    {28604, "TR AYCELL"},
    {28801, "Foroya Tele"},
    {28802, "VODAFONE FO"},
    {29001, "TELE Greenland"},
    {29201, "SMT"},
    {29266, "SMT"},
    {29340, "Si.mobil"},
    {29341, "MOBITEL"},
    {29364, "T-2"},
    {29370, "TELEMACH"},
    {29401, "T-Mobile MK"},
    {29402, "ONE MK"},
    {29403, "Vip MKD"},
    {29501, "SwisscomFL"},
    {29502, "Salt.li"},
    {29505, "FL1"},
    {29577, "Alpmobile"},
    {295295, "SwisscomFL"},
    {29701, "Telenor"},
    {29702, "Telekom.me"},
    {30266, "MTS"},
    {30272, "Rogers Wireless"},
    {302220, "TELUS"},
    {302270, "Eastlink"},
    {302320, "Mobilicity"},
    {302340, "Execulink Telecom"},
    {302370, "Fido"},
    {302380, "KNET"},
    {302490, "WIND"},
    {302500, "Videotron"},
    {302610, "Bell"},
    {302660, "MTS"},
    {302720, "Rogers Wireless"},
    {302730, "CAN TerreStar Solutions"},
    {302770, "CANRU"},
    {302780, "SaskTel"},
    {302880, "FastRoam"},
    {302940, "Wightman"},
    {30801, "SPM AMERIS"},
    {31000, "NEP Wireless"},
    {31002, "NEP Wireless"},
};

// The rows follow the SIP stack's own numbering and the timer enumerators.
static_assert(nua_i_error == 0 && nua_i_register == 54, "SIP stack event numbers moved");
static_assert(nua_r_authenticate == 47 && nua_i_network_changed == 53, "SIP stack event numbers moved");
// Two codes past the stack's own end (nua_i_register) are named as well.
static_assert(sizeof nua_event_list / sizeof *nua_event_list == nua_i_register + 3);
static_assert(nua_callstate_init == 0 && nua_callstate_terminated == 10, "SIP stack call states moved");
static_assert(sizeof nua_callstate_list / sizeof *nua_callstate_list == nua_callstate_terminated + 1);
static_assert(T_EVENT_DIALING == EVENT_BASE_TIMER);
static_assert(T_EVENT_FXS_WINK_TIMER == EVENT_BASE_TIMER + 30);
static_assert(GSM_EVENT_TYPE_AT == EVENT_BASE_GSM_LIB && GSM_EVENT_TYPE_UNKNOWN == EVENT_BASE_GSM_LIB + 59);

namespace {

struct event_range {
    int base;
    int rows;
    const char *const *names;
};

template <int N> constexpr event_range range_of(int base, const char *const (&names)[N])
{
    return {base, N, names};
}

const event_range event_ranges[] = {
    range_of(EVENT_BASE_NUA, nua_event_list),         range_of(EVENT_BASE_ISDN, isdn_event_list),
    range_of(EVENT_BASE_TIMER, timer_event_list),     range_of(EVENT_BASE_GSM, gsm_event_list),
    range_of(EVENT_BASE_GENERAL, general_event_list), range_of(EVENT_BASE_ANALOG, analog_event_list),
    range_of(EVENT_BASE_CAS, cas_event_list),         range_of(EVENT_BASE_SIP_EXTRA, sip_extra_event_list),
};

constexpr int gsm_lib_rows = 60;

template <int N> const char *row_or_unknown(const char *const (&names)[N], int row)
{
    return row >= 0 && row < N ? names[row] : "UNKNOWN_STATE";
}

enum analog_port_kind { ANALOG_PORT_FXS = 1, ANALOG_PORT_FXO = 2 };

} // namespace

const char *print_event(int event)
{
    for (const event_range &r : event_ranges)
        if (event >= r.base && event < r.base + r.rows)
            return r.names[event - r.base];
    if (event >= EVENT_BASE_GSM_LIB && event < EVENT_BASE_GSM_LIB + gsm_lib_rows)
        return gsm_event_to_string(event);
    LOGD(TARN, 5, nullptr, "Unknown event %i", event);
    return "UNKNOWN_EVENT";
}

int bit_shift_value(uint32_t state)
{
    if (state == 0 || (state & (state - 1)) != 0)
        return 0;
    return __builtin_ctz(state) + 1;
}

const char *print_sm_state_call(call_object *co, uint32_t state)
{
    // No state word names "SM_UNKNOWN" (row 0 of the lists): a word that
    // is not a single bit, and the unused bit 15, are "UNKNOWN_STATE".
    int pos = bit_shift_value(state);
    if (!co || pos == 0 || pos == 16)
        return "UNKNOWN_STATE";
    if (pos < 16)
        return callobject_callstate_list[pos];
    int row = pos - 16;
    switch (co->callinfo) {
    case CI_SIP_TO_ISDN:
    case CI_TELNET_TO_ISDN:
    case CI_ISDN_TO_SIP:
        return row_or_unknown(callobject_callstate_list_isdn, row);
    case CI_SIP_TO_GSM:
    case CI_GSM_TO_SIP:
        return row_or_unknown(callobject_callstate_list_gsm, row);
    case CI_SIP_TO_CAS:
    case CI_CAS_TO_SIP:
        return row_or_unknown(callobject_callstate_list_cas, row);
    case CI_SIP_TO_ITAPI:
        return row_or_unknown(callobject_callstate_list_itapi, row);
    case CI_SIP_TO_ANALOG:
    case CI_ANALOG_TO_SIP:
        switch (co_get_analog_port_type(co)) {
        case ANALOG_PORT_FXS:
            return row_or_unknown(callobject_callstate_list_analog_fxs, row);
        case ANALOG_PORT_FXO:
            return row_or_unknown(callobject_callstate_list_analog_fxo, row);
        default:
            return "UNKNOWN_STATE";
        }
    default:
        return "UNKNOWN_STATE";
    }
}

const char *print_sm_state_reg(reg_object *ro, uint32_t state)
{
    int pos = bit_shift_value(state);
    if (!ro || pos == 0)
        return "UNKNOWN_STATE";
    return row_or_unknown(regobject_callstate_list, pos);
}

const char *print_nua_callstate(int callstate)
{
    return row_or_unknown(nua_callstate_list, callstate);
}

const char *print_callinfo(int callinfo)
{
    switch (callinfo) {
    case CI_FREE: return "FREE";
    case CI_INUSE: return "IN_USE";
    case CI_SIP_TO_SIP: return "SIP_TO_SIP";
    case CI_ISDN_TO_SIP: return "ISDN_TO_SIP";
    case CI_ANALOG_TO_SIP: return "ANALOG_TO_SIP";
    case CI_GSM_TO_SIP: return "GSM_TO_SIP";
    case CI_TARN_TO_SIP: return "TARN_TO_SIP";
    case CI_CAS_TO_SIP: return "CAS_TO_SIP";
    case CI_SIP_TO_ISDN: return "SIP_TO_ISDN";
    case CI_SIP_TO_ANALOG: return "SIP_TO_ANALOG";
    case CI_SIP_TO_GSM: return "SIP_TO_GSM";
    case CI_SIP_TO_TARN: return "SIP_TO_TARN";
    case CI_SIP_TO_CAS: return "SIP_TO_CAS";
    case CI_INTERNAL: return "INTERNAL";
    case CI_REGISTER: return "REGISTER";
    default: return "UNKNOWN_TO_UNKNOWN";
    }
}

const char *get_provider_name(int code)
{
    for (const provider_entry &p : provider_map)
        if (p.code == code)
            return p.name;
    return "Unknown";
}
