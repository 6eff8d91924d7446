#include "schema.h"

// One row per key, in index order; rows are compared with the file format
// the gateway has always used, so names, defaults and texts stay exactly so.

static const cm_dir_t cfg_dirs_tarn_general[] = {
    {nullptr, nullptr, nullptr},
    {"statusport", "54322", "port listening for connections"},
    {"logserver", "127.0.0.1:514", "address log information is sent to"},
    {"syslog_active", "0", "if syslog_active is 1 netlog is activated at start"},
    {"loglevel_debug", "0", "log level(0=low,9=extreme)"},
    {"logrotatefiles", "/var/log/tarn.log.1,/var/log/tarn.log.2", "comma separated list of log files, if first one exceed limit first is copied to second, second to third and so on"},
    {"logsizelimit", "1000000", "file size in bytes to be exceeded, after which a new logfile is created"},
    {"interface_host", "eth0", "the interface connected to the outside world"},
    {"interface_msp", "eth1", "msp interface is the mindspeed interface, csm commands are sent to"},
    {"msp_device_mac", "00:11:22:33:44:55", "the mac address of the interface on the media stream processor (not accessible by ifconfig)"},
    {"msp_bridging", "yes", "allow bridging (NO,ON_SAME_BUS_ONLY,YES)"},
    {"msp_source_port_verification", "0", "source port verification"},
    {"msp_source_ip_verification", "0", "source ip verification"},
    {"logcdr", "no", "log cdr to file"},
    {"cdrpath", "/var/log/", "directory where cdr is written to"},
    {"cdrfilesizelimit", "200000", "log cdr to file"},
    {"syslog_facility", "16", "syslog facility (value between 16 and 23)"},
    {"pcm_server", "0", "0=off (default), 1=self, or ip of server"},
    {"pcm_server_port", "54329", "port to listen to (if we are the server) or to connect to"},
    {"fc_timeout", "2", "timeout in seconds for the feature code timer"},
    {"locallogport", "54323", "local address log information is sent to"},
    {"loglevel_message", "9", "log level(0=low,9=extreme)"},
    {"logging_debug", "0", "enable debug logging"},
    {"logging_message", "0", "enable message logging"},
    {"sofia_log_path", "/var/log/sofia.log", "path to sofia log"},
    {"sofialogsizelimit", "50000", "max size of sofia log file"},
    {"reject_calls_under_load", "0", "reject incoming and outgoing calls if isdn queues are filled, 0=off, or value greater 0 is the queue length, for which calls are rejected"},
    {"multicast_addresses", "224.0.0.251:5353,224.0.0.18,224.0.1.75:5060", "comma separated set of multicast addresses and optional udp port or port ranges"},
    {"experimental_options", "", "field for various experimental options"},
    {"caslog_path", "/tmp/", "directory where cas logging is written to"},
    {"caslog_filesizelimit", "100000", "log cdr to file"},
    {"nlogrotatefiles", "/var/log/tarn.nlog.1,/var/log/tarn.nlog.2", "comma separated list of log files, if first one exceed limit first is copied to second, second to third and so on"},
    {"nlogsizelimit", "500000", "file size in bytes to be exceeded, after which a new logfile is created"},
    {"emergency_numbers", "110|112|911|999|116117", "list of emergency numbers"},
    {"logging_nmessage", "0", "enable nmessage logging"},
    {"blacklist_max_options_packets_lan", "0", "max allowed incoming SIP OPTIONS packets for non whitelisted IPs per timeframe on LAN stack"},
    {"blacklist_max_invite_packets_lan", "0", "max allowed incoming SIP INVITE packets for non whitelisted IPs per timeframe on LAN stack"},
    {"blacklist_max_register_packets_lan", "0", "max allowed incoming SIP REGISTER packets for non whitelisted IPs per timeframe on LAN stack"},
    {"blacklist_max_other_packets_lan", "0", "max allowed incoming SIP packets of other type for non whitelisted IPs per timeframe on LAN stack"},
    {"blacklist_options_timeframe_lan", "0", "timeframe for blacklisting OPTIONS packets on LAN"},
    {"blacklist_invite_timeframe_lan", "0", "timeframe for blacklisting INVITE packets on LAN"},
    {"blacklist_register_timeframe_lan", "0", "timeframe for blacklisting REGISTER packets on LAN"},
    {"blacklist_other_timeframe_lan", "0", "timeframe for blacklisting OTHER packets on LAN"},
    {"blacklist_blockduration_lan", "86400", "duration of block of blacklisted IP on LAN"},
    {"blacklist_max_options_packets_wan", "0", "max allowed incoming SIP OPTIONS packets for non whitelisted IPs per timeframe on WAN stack"},
    {"blacklist_max_invite_packets_wan", "0", "max allowed incoming SIP INVITE packets for non whitelisted IPs per timeframe on WAN stack"},
    {"blacklist_max_register_packets_wan", "0", "max allowed incoming SIP REGISTER packets for non whitelisted IPs per timeframe on WAN stack"},
    {"blacklist_max_other_packets_wan", "0", "max allowed incoming SIP packets of other type for non whitelisted IPs per timeframe on WAN stack"},
    {"blacklist_options_timeframe_wan", "0", "timeframe for blacklisting OPTIONS packets on WAN"},
    {"blacklist_invite_timeframe_wan", "0", "timeframe for blacklisting INVITE packets on WAN"},
    {"blacklist_register_timeframe_wan", "0", "timeframe for blacklisting REGISTER packets on WAN"},
    {"blacklist_other_timeframe_wan", "0", "timeframe for blacklisting OTHER packets on WAN"},
    {"blacklist_blockduration_wan", "86400", "duration of block of blacklisted IP on WAN"},
};

const cm_section_t cfg_sect_tarn[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 53, cfg_dirs_tarn_general},
};

const int cfg_sect_tarn_count = 1;

static const cm_dir_t cfg_dirs_miscconf_general[] = {
    {nullptr, nullptr, nullptr},
    {"lan-mode", "single", ""},
    {"lan-ipaddr", "", ""},
};

const cm_section_t cfg_sect_miscconf[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 3, cfg_dirs_miscconf_general},
};

const int cfg_sect_miscconf_count = 1;

static const cm_dir_t cfg_dirs_isdn_general[] = {
    {nullptr, nullptr, nullptr},
    {"time_from_isdn", "no", "get and set time obtained from isdn"},
};

static const cm_dir_t cfg_dirs_isdn_port[] = {
    {"name", nullptr, "name of the group"},
    {"ports", nullptr, "comma separated list of port numbers"},
    {"config", "", "config string"},
    {"interdigit_timeout_initial", "15", "interdigit timeout for dialing if no digits have been dialed yet(when overlap dialing is off)when dad is empty"},
    {"interdigit_timeout", "3", "interdigit timeout for dialing (when overlap dialing is off)"},
    {"tones", "de", "language code for tones"},
    {"chansel", "simple", "channel selection method (simple,roundrobin,random)"},
    {"overlap_dialing", "no", "yes=overlap dialing, no=dialing with interdigit timer"},
    {"qsig", "no", "QSIG support"},
    {"portpullup", "1", "0:do nothing 1: try to get isdn port up if L1/L2 are down (default), 2: try call though port is down"},
    {"qsig_network_extension", "yes", "send qsig network extension on qsig name transmission"},
    {"complete_dialing_on_pound_or_star", "no", "in non overlap dialing case, mark dialing is complete by pressing pound or star"},
    {"chansel_behaviour", "default", "default,anychannel,alternative,exclusive (default is defined by port type)"},
    {"chansel_direction", "ascending", "ascending (upwards starting from lowest channel on lowest port) or descending (downwards starting from highest channel on highest port) "},
    {"port_config", "", ""},
    {"country_code", "", "country code"},
    {"city_code", "", "city code"},
    {"local_area_code", "", "local area code of pbx"},
    {"dialtone_digits", "0", "max number of dialed digits, after which the dialtone is still played in "},
    {"pcmlaw", "alaw", "modulation to be used on corresponding tdm bus, can be alaw or ulaw, alaw is default"},
    {"reject_unknown_facilities", "1", "if set to 1 unknown facilities are rejected with a Facility message"},
    {"restart_after_link_loss", "off", "can be off, both, nt or te"},
    {"monitored_sip_peer", "", "sip group name which is deactivated if registration fails"},
    {"monitored_sip_peer_offtime", "60", "time in unregistered state after ISDN layer is put down"},
};

const cm_section_t cfg_sect_isdn[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 2, cfg_dirs_isdn_general},
    {"port", "default", "ports", KTYPE_INTEGER, 24, cfg_dirs_isdn_port},
};

const int cfg_sect_isdn_count = 2;

static const cm_dir_t cfg_dirs_cas_general[] = {
    {nullptr, nullptr, nullptr},
};

static const cm_dir_t cfg_dirs_cas_port[] = {
    {"name", nullptr, "name of the group"},
    {"ports", nullptr, "comma separated list of port numbers"},
    {"config", "", "config string"},
    {"interdigit_timeout_initial", "15", "timeout for dialing when dad is empty"},
    {"interdigit_timeout", "3", "timeout for dialing"},
    {"tones", "de", "language code for tones"},
    {"overlap_dialing", "no", "yes=overlap dialing, no=dialing with interdigit timer"},
    {"chansel", "simple", "channel selection method (simple,roundrobin,random)"},
    {"chansel_direction", "ascending", "ascending (upwards starting from lowest channel on lowest port) or descending (downwards starting from highest channel on highest port) "},
    {"clip", "", "caller id used for incoming cas calls"},
    {"cnip", "", "caller display used for incoming cas calls"},
    {"complete_dialing_on_pound_or_star", "no", "in non overlap dialing case, mark dialing is complete by pressing pound or star"},
    {"t1_signalling", "fxo_ks", "which signalling should be used on ports with t1: fxo_ks or fxs_ks"},
    {"e1_signalling", "mfcr2", "which signalling should be used on ports with e1: mfcr2"},
    {"dialtone_digits", "0", "max number of dialed digits, after which the dialtone is still played in "},
    {"fxo_call_ending_signal", "unobtainable", "busy,unobtainable"},
    {"fxo_cid_detection_mode", "bellcore", "dtmf cid detection mode, can be: bellcore|etsi-dtmf|etsi-dtmf-ar"},
    {"fxo_callerid_detection_timeout", "5", "time  in seconds after which we don't wait for incoming caller ID anymore"},
    {"fxo_wait_for_oad", "wait", "wait for incoming caller id, values can be: wait,dontwait"},
    {"pcmlaw", "alaw", "modulation to be used on corresponding tdm bus, can be alaw or ulaw, alaw is default"},
};

const cm_section_t cfg_sect_cas[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 1, cfg_dirs_cas_general},
    {"port", "default", "ports", KTYPE_INTEGER, 20, cfg_dirs_cas_port},
};

const int cfg_sect_cas_count = 2;

static const cm_dir_t cfg_dirs_analog_general[] = {
    {nullptr, nullptr, nullptr},
};

static const cm_dir_t cfg_dirs_analog_port[] = {
    {"name", nullptr, "name of the group"},
    {"ports", nullptr, "comma separated list of port numbers"},
    {"config", "", "config string"},
    {"interdigit_timeout_initial", "15", "timeout for dialing when dad is empty"},
    {"interdigit_timeout", "3", "timeout for dialing"},
    {"tones", "de", "language code for tones"},
    {"fxo_connect", "instant", "values can be instant or polarity"},
    {"fxo_wait_for_oad", "wait", "wait,dontwait"},
    {"fxo_dialtone_passthrough", "no", "passthrough analog dialtone no or yes"},
    {"fxo_call_ending_signal", "unobtainable", "busy,unobtainable,polarity"},
    {"fxo_portup_voltage", "5", "minimum voltage on fxo for the port to be considered as active"},
    {"overlap_dialing", "no", "yes=overlap dialing, no=dialing with interdigit timer"},
    {"fxo_dialtone_detection_timeout", "1", "time in seconds after which we assume the dialtone to be available though we didn't detect it (0=off default)"},
    {"fxo_callerid_detection_timeout", "5", "time  in seconds after which we don't wait for incoming caller ID anymore"},
    {"clip", "", "caller id used for incoming analog calls"},
    {"cnip", "", "caller display used for incoming analog calls"},
    {"chansel", "simple", "channel selection method (simple,roundrobin,random)"},
    {"chansel_direction", "ascending", "ascending (upwards starting from lowest channel on lowest port) or descending (downwards starting from highest channel on highest port) "},
    {"complete_dialing_on_pound_or_star", "no", "in non overlap dialing case, mark dialing is complete by pressing pound or star"},
    {"fxo_cid_detection_mode", "bellcore", "dtmf cid detection mode, can be: bellcore|etsi-dtmf|etsi-dtmf-ar"},
    {"port_config", "", ""},
    {"dialtone_digits", "0", "max number of dialed digits, after which the dialtone is still played in "},
    {"message_waiting_method", "stutter", "method used for analog message waiting, can be one or more of the following: stutter,fsk,off"},
    {"pcmlaw", "alaw", "modulation to be used on corresponding tdm bus, can be alaw or ulaw, alaw is default"},
    {"fxo_verify_ringing", "0", "if set to 1, a full ring cycle is waited before processing the inbound call, if no cid has been received"},
    {"fxs_wink_offset", "0", "after FXS receives OFFHOOK the time in ms when the wink signal is sent (0-5000)"},
    {"fxs_wink_duration", "0", "duration of the wink signal in ms, after fxs received offhook (0=off, max=2000)"},
};

const cm_section_t cfg_sect_analog[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 1, cfg_dirs_analog_general},
    {"port", "default", "ports", KTYPE_INTEGER, 27, cfg_dirs_analog_port},
};

const int cfg_sect_analog_count = 2;

static const cm_dir_t cfg_dirs_sip_general[] = {
    {nullptr, nullptr, nullptr},
    {"stack_active_lan", "0", "is this stack enabled"},
    {"interface_name_lan", "", "bind interface name"},
    {"sip_bindport_lan", "5060", "address sip is listening to"},
    {"rtpports_lan", "6000-6398", "range of rtp ports"},
    {"rtp_port_selection_lan", "standard", "method of port selection: can be standard or roundrobin"},
    {"sip_transport_lan", "tcp:udp", "sip transport modes, possible values are udp,tcp,tls"},
    {"ssl_version_lan", "tls", "tls or sslv2"},
    {"ssl_port_lan", "", "port for sips"},
    {"tos_sip_lan", "160", "IP type of service for SIP traffic"},
    {"tos_rtp_lan", "160", "IP type of service for RTP traffic"},
    {"cert_dir_lan", "/usr/conf/certs/lan/", "directory where the SIP TLS certificates for the LAN stack are stored"},
    {"tls_verification_selection_lan", "none", "tls verification mode for LAN"},
    {"sip_useragent_lan", "Davnole VoIP Gateway", "SIP User Agent"},
    {"registration_offset_lan", "0", "Time in seconds between sending out registrations of different peers"},
    {"stack_active_wan", "0", "is this stack enabled"},
    {"interface_name_wan", "", "bind interface name"},
    {"sip_bindport_wan", "5060", "address sip is listening to"},
    {"rtpports_wan", "6400-6798", "range of rtp ports"},
    {"rtp_port_selection_wan", "standard", "method of port selection: can be standard or roundrobin"},
    {"sip_transport_wan", "tcp:udp", "sip transport modes, possible values are udp,tcp,tls"},
    {"ssl_version_wan", "tls", "tls or sslv2"},
    {"ssl_port_wan", "", "port for sips"},
    {"tos_sip_wan", "160", "IP type of service for SIP traffic"},
    {"tos_rtp_wan", "160", "IP type of service for RTP traffic"},
    {"cert_dir_wan", "/usr/conf/certs/wan/", "directory where the SIP TLS certificates for the WAN stack are stored"},
    {"tls_verification_selection_wan", "none", "tls verification mode for WAN"},
    {"sip_useragent_wan", "Davnole VoIP Gateway", "SIP User Agent"},
    {"registration_offset_wan", "0", "Time in seconds between sending out registrations of different peers"},
    {"stack_active_vpn", "0", "is this stack enabled"},
    {"interface_name_vpn", "", "bind interface name"},
    {"sip_bindport_vpn", "5060", "address sip is listening to"},
    {"rtpports_vpn", "6800-7200", "range of rtp ports"},
    {"rtp_port_selection_vpn", "standard", "method of port selection: can be standard or roundrobin"},
    {"sip_transport_vpn", "tcp:udp", "sip transport modes, possible values are udp,tcp,tls"},
    {"ssl_version_vpn", "tls", "tls or sslv2"},
    {"ssl_port_vpn", "", "port for sips"},
    {"tos_sip_vpn", "160", "IP type of service for SIP traffic"},
    {"tos_rtp_vpn", "160", "IP type of service for RTP traffic"},
    {"cert_dir_vpn", "/usr/conf/certs/vpn/", "directory where the SIP TLS certificates for the VPN stack are stored"},
    {"tls_verification_selection_vpn", "none", "tls verification mode for VPN"},
    {"sip_useragent_vpn", "Davnole VoIP Gateway", "SIP User Agent"},
    {"registration_offset_vpn", "0", "Time in seconds between sending out registrations of different peers"},
    {"sip_bindport_localhost", "5060", "address sip is listening to"},
};

static const cm_dir_t cfg_dirs_sip_name[] = {
    {"name", nullptr, "name of the group"},
    {"ports", "1", "comma separated list of port numbers"},
    {"sip_domain", "", "sip domain"},
    {"sip_proxy", "", "sip proxy"},
    {"sip_registrar", "", "sip registrar"},
    {"user", "anonymous", "user name"},
    {"secret", "", "authentication password"},
    {"register", "0", "register to sip peer"},
    {"config", "", "config string"},
    {"default", "0", "set to 1 if this a default proxy"},
    {"regrefresh", "600", "set after how many seconds the registration should be refreshed"},
    {"regrefresh_failed", "10", "set after how many seconds the registration should be refreshed, if registration failed"},
    {"externip", "", "ip to be used as origin for sip message"},
    {"stunserver", "", "comma separated list of stun servers"},
    {"register_options", "", "some register nat specific options can be set"},
    {"port_config", "", ""},
    {"inbound_auth_user", "", "inbound authentication user name"},
    {"inbound_auth_secret", "", "inbound authentication password"},
    {"transport", "", "tls, tcp or udp, has to be a configured transport type, if nothing set tls > tcp > udp"},
    {"auth_user", "", "authentication username"},
    {"displayname", "", "displayname"},
    {"matchtype", "address", "can be any combination of address|fromuser|touser|manual , manual and address are mutually exclusive"},
    {"enum_support", "0", "set to 1 if  support for naptr for enum queries should be enabled"},
    {"enum_search_domains", "", "the search domain for enum queries"},
    {"matchtype_manual", "", "contains the manual string"},
    {"keepalive-interval", "", "keepalive interval in seconds"},
    {"call_transfer_method", "refer", "call transfer method, can be refer of reinvite"},
    {"sip_custom_port", "", "use a different port for listening to SIP than the default port"},
    {"sip_stack", "", "use a different port for listening to SIP than the default port"},
    {"emergency_numbers", "default", "list of emergency numbers"},
    {"validation", "0", "peer validation with options "},
    {"callgroup_name", "", "name of the callgroup"},
    {"callgroup_priority", "", "priority of the callgroup"},
    {"max_simultaneous_calls", "", "maximum amount of outgoing calls on this SIP peer"},
    {"regrefresh_on_validation_fail", "0", "if peer is successfully registered and uses validation, a failed validation triggers a registration refresh"},
    {"dns_change_registration_behaviour", "change_immediately", "if DNS SRV request retrieves a peer with better priority and the current registrar is still contained in the list, do not change"},
    {"dns_change_minimum_registration_time", "900", "if DNS SRV request retrieves a peer with better priority, only change if we are registered for at least given amount of seconds"},
};

const cm_section_t cfg_sect_sip[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 44, cfg_dirs_sip_general},
    {"name", "default", "name", KTYPE_STRING, 37, cfg_dirs_sip_name},
};

const int cfg_sect_sip_count = 2;

static const cm_dir_t cfg_dirs_gsm_general[] = {
    {nullptr, nullptr, nullptr},
    {"sms_spool_base", "/tmp/sms/", "base folder for sms folders"},
    {"sms_spool_in", "/tmp/sms/in/", "spool folder for incoming sms"},
    {"sms_spool_out", "/tmp/sms/out/", "spool folder for outgoing sms"},
    {"sms_spool_failout", "/tmp/sms/failout/", "spool folder for outgoing sms"},
    {"pin", "", "pin"},
    {"smsc", "", "SMS station"},
    {"sms_max_attempts", "1", "SMS max attempts"},
    {"codec", "", "comma separated list of codecs for each port"},
    {"provider", "", "mode can be auto=0, manual=1:a|b|c|12345|e, manual/automatic, e.g. 2:a|b|c|12345|e "},
    {"sms_spool_parts", "/tmp/sms/parts/", "spool folder for incoming sms parts"},
    {"cbm_spool_base", "/tmp/cbm/", "base folder for cbm folders"},
    {"cbm_spool_in", "/tmp/cbm/in/", "spool folder for incoming cbm"},
    {"cbm_spool_parts", "/tmp/cbm/parts/", "spool folder for incoming cbm parts"},
};

static const cm_dir_t cfg_dirs_gsm_port[] = {
    {"name", nullptr, "name of the group"},
    {"ports", nullptr, "comma separated list of port numbers"},
    {"config", "", "config string"},
    {"extensions", "", "comma separated list of destination numbers for inbound gsm calls for each port in group"},
    {"sms_extensions", "", "comma separated list of destination numbers for inbound gsm sms for each port in group"},
    {"port_config", "", ""},
    {"chansel", "simple", "channel selection method (simple,roundrobin,random)"},
    {"chansel_direction", "ascending", "ascending (upwards starting from lowest channel on lowest port) or descending (downwards starting from highest channel on highest port) "},
    {"pcmlaw", "alaw", "modulation to be used on corresponding tdm bus, can be alaw or ulaw, alaw is default"},
    {"sms_webhook", "", "webhook url which is called on an incoming SMS"},
    {"sms_webhook_user", "", "webhook url username for authentication"},
    {"sms_webhook_secret", "", "webhook url secrect for authentication"},
    {"sms_webhook_id", "", "webhook url id string"},
    {"sms_webhook_type", "plain", "webhook type: either plain or 3cx"},
    {"wait_for_cid_timeout", "1", "time to wait for cid in seconds"},
    {"lte_init_hook", "", "additional LTE commands to be executed after modem init"},
};

const cm_section_t cfg_sect_gsm[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 14, cfg_dirs_gsm_general},
    {"port", "default", "ports", KTYPE_INTEGER, 16, cfg_dirs_gsm_port},
};

const int cfg_sect_gsm_count = 2;

static const cm_dir_t cfg_dirs_tones_general[] = {
    {nullptr, nullptr, nullptr},
    {"country", "de", "default country code"},
    {"level", "100", "default tone level"},
};

static const cm_dir_t cfg_dirs_tones_name[] = {
    {"name", nullptr, "name of the group"},
    {"ports", "1", "comma separated list of port numbers"},
    {"description", "", "description of this tone setting"},
    {"dial", "440", "dial tone"},
    {"ring", "440", "ring tone"},
    {"busy", "440", "busy tone"},
    {"congestion", "440", "fast busy tone"},
    {"ringcadence", "440", "ringcadence"},
    {"callwaiting", "440", "callwaiting"},
    {"dialrecall", "440", "dialrecall"},
    {"record", "440", "record"},
    {"info", "440", "info"},
    {"stutter", "440", "stutter"},
    {"acp_detect", "50:4000:4000:0:0,51:800:1200:3800:4200,52:400:600:400:600,53:150:250:150:250", "acp detect defines"},
    {"acp_event", "50:0:0:DIAL,51:0:0:RING,52:0:0:BUSY,53:0:0:CONGESTION", "acp event defines"},
    {"mwstutter", "440/100,0/40", "stutter"},
};

const cm_section_t cfg_sect_tones[] = {
    {"general", nullptr, nullptr, KTYPE_NONE, 3, cfg_dirs_tones_general},
    {"name", "default", "name", KTYPE_STRING, 16, cfg_dirs_tones_name},
};

const int cfg_sect_tones_count = 2;
