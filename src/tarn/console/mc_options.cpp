#include "mc_options.h"

#include <cstdlib>
#include <cstring>

#include "console.h"
#include "mc_bert.h"
#include "mc_call_control.h"
#include "mc_diag.h"
#include "mc_eo_list.h"
#include "mc_gsm.h"
#include "mc_gsm_tests.h"
#include "mc_isdn_diversion.h"
#include "mc_isdn_tests.h"
#include "mc_itapi.h"
#include "mc_list_calls.h"
#include "mc_listings.h"
#include "mc_log.h"
#include "mc_msp_stats.h"
#include "mc_msp_tests.h"
#include "mc_reload.h"
#include "mc_s2s_tests.h"
#include "mc_sip_acl.h"
#include "mc_sip_messages.h"
#include "mc_tdm.h"
#include "mc_unified_diag.h"
#include "status_server.h"

// A row whose handler belongs to a part of the daemon that this build does
// not contain yet names that handler here; until it exists the row answers
// through mc_not_available.
#define LATER(handler) mc_not_available

// One row per command, in the order of the help listing "hx".
mc_option mc_options[MC_OPTIONS_COUNT] = {
    /*   1 */ {"c", "", 0, 0, mc_util_clear_screen, "clear screen", 0},
    /*   2 */ {"h", "", 0, 0, mc_util_print_help, "show all available options", 0},
    /*   3 */ {"ho", "", 0, 0, mc_util_print_help_ordered, "show all available options (alphabetically sorted)", 0},
    /*   4 */ {"hf", "X", 0, 0, mc_util_print_help_selected, "show all available options which match X", 0},
    /*   5 */ {"hx", "", 0, MC_TYPE_HIDDEN, mc_util_print_help_full, "show complete help", 0},
    /*   6 */ {"hxo", "", 0, MC_TYPE_HIDDEN, mc_util_print_help_full_ordered, "show complete help (alphabetically sorted)", 0},
    /*   7 */ {"hs", "", 0, 0, mc_util_print_help_sip, "show sip options", 0},
    /*   8 */ {"hi", "", 0, 0, mc_util_print_help_isdn, "show isdn options", 0},
    /*   9 */ {"ha", "", 0, 0, mc_util_print_help_analog, "show analog options", 0},
    /*  10 */ {"hg", "", 0, 0, mc_util_print_help_gsm, "show gsm options", 0},
    /*  11 */ {"hl", "", 0, 0, mc_util_print_help_info, "show listing options", 0},
    /*  12 */ {"hv", "", 0, 0, mc_util_print_help_log, "show logging options", 0},
    /*  13 */ {"hm", "", 0, 0, mc_util_print_help_misc, "show misc options", 0},
    /*  14 */ {"hh", "", 0, MC_TYPE_HIDDEN, mc_util_print_help_hidden, "show hidden options", 0},
    /*  15 */ {"hho", "", 0, MC_TYPE_HIDDEN, mc_util_print_help_hidden_ordered, "show hidden options  (alphabetically sorted)", 0},
    /*  16 */ {"hmsp", "", 0, 0, mc_util_print_help_msp_log, "show msp log options (Remark: enable and disable an Unified Diagnostics command only when a voice call is activated)", 0},
    /*  17 */ {"greeting", "", 0, MC_TYPE_HIDDEN, mc_util_print_greeting, "print greeting", 0},
    /*  18 */ {"sleep", "X", 0, MC_TYPE_HIDDEN, mc_util_sleep, "command sleeps for X seconds", 0},
    /*  19 */ {"l", "", 0, MC_TYPE_INFO, mc_tarn_list_operations, "list active calls", 0},
    /*  20 */ {"l ", "X", 0, MC_TYPE_INFO, mc_tarn_list_operations_selected, "list selected active calls, X is a comma separated list of call indices", 0},
    /*  21 */ {"LH", "", 0, MC_TYPE_INFO, mc_tarn_list_operations_hidden, "list active calls", 0},
    /*  22 */ {"lp ", "X", 0, MC_TYPE_INFO, mc_tarn_list_operations_selected_by_pid, "list selected active calls, X is a comma separated list of call pids", 0},
    /*  23 */ {"k", "", 0, MC_TYPE_INFO, mc_tarn_list_operations_compact, "list active calls (compact)", 0},
    /*  24 */ {"k ", "X", 0, MC_TYPE_INFO, mc_tarn_list_operations_compact_selected, "list selected active calls (compact), X is a comma separated list of call indices", 0},
    /*  25 */ {"kp ", "X", 0, MC_TYPE_INFO, mc_tarn_list_operations_compact_selected_by_pid, "list selected active calls (compact), X is a comma separated list of call pids", 0},
    /*  26 */ {"kt", "", 0, MC_TYPE_INFO, mc_tarn_list_operations_compact_tabbed, "list active calls tab separated (compact)", 0},
    /*  27 */ {"kt ", "X", 0, MC_TYPE_INFO, mc_tarn_list_operations_compact_selected_tabbed, "list selected active calls tab separated (compact), X is a comma separated list of call indices", 0},
    /*  28 */ {"ktp ", "X", 0, MC_TYPE_INFO, mc_tarn_list_operations_compact_selected_tabbed_by_pid, "list selected active calls tab separated (compact), X is a comma separated list of call pids", 0},
    /*  29 */ {"ss", "", 0, MC_TYPE_INFO, mc_tarn_list_call_statistics, "list call statistics", 0},
    /*  30 */ {"ssp", "", 0, MC_TYPE_INFO, mc_tarn_list_call_statistics_portwise, "list port specific call statistics", 0},
    /*  31 */ {"d", "", 0, MC_TYPE_INFO, mc_tarn_list_dialplan, "list dialplan", 0},
    /*  32 */ {"ddbg", "", 0, MC_TYPE_HIDDEN | MC_TYPE_INFO, mc_tarn_list_dialplan_dbg, "list dialplan_dbg", 0},
    /*  33 */ {"lcpt", "", 0, MC_TYPE_INFO, mc_tarn_list_call_progress_tables, "list call progress tables", 0},
    /*  34 */ {"lpg", "", 0, MC_TYPE_INFO, mc_tarn_list_port_groups, "list port groups", 0},
    /*  35 */ {"lpg", "X", 0, MC_TYPE_INFO, mc_tarn_list_port_groups, "list port groups for specific technology, X can be i, a, g, c or s", 0},
    /*  36 */ {"ccd", "", 0, MC_TYPE_INFO, mc_tarn_list_connected_call_duration, "list connected call duration", 0},
    /*  37 */ {"cca", "X", 0, MC_TYPE_INFO, mc_tarn_list_call_configuration_ordered, "list connected call duration (ordered alphabetically)", 0},
    /*  38 */ {"cc", "", 0, MC_TYPE_INFO, mc_tarn_list_call_configuration, "list call configuration", 0},
    /*  39 */ {"cc", "X", 0, MC_TYPE_INFO, mc_tarn_list_call_configuration, "list call configuration for call at index X", 0},
    /*  40 */ {"dc", "", 0, MC_TYPE_INFO, mc_tarn_list_default_call_configuration, "list default call configuration", 0},
    /*  41 */ {"dc", "X", 0, MC_TYPE_INFO, mc_tarn_list_default_call_configuration_sorted, "list default call configuration (sorted), X can be a", 0},
    /*  42 */ {"ndc", "", 0, MC_TYPE_INFO, mc_tarn_list_default_call_configuration_with_regexp, "list default call configuration (with regexp)", 0},
    /*  43 */ {"ndc", "X", 0, MC_TYPE_INFO, mc_tarn_list_default_call_configuration_with_regexp_sorted, "list default call configuration (with regexp), X can be a", 0},
    /*  44 */ {"lcm", "", 0, MC_TYPE_INFO, mc_tarn_list_cause_map, "list cause map", 0},
    /*  45 */ {"rcm", "", 0, MC_TYPE_INFO, mc_tarn_reload_cause_map, "reload cause map", 0},
    /*  46 */ {"u", "", 0, MC_TYPE_INFO, mc_tarn_list_uptime, "list uptime", 0},
    /*  47 */ {"uptime", "", 0, MC_TYPE_INFO, mc_tarn_list_uptime, "list uptime", 0},
    /*  48 */ {"lgo", "", 0, MC_TYPE_INFO, mc_tarn_list_global_options, "list global options", 0},
    /*  49 */ {"cdrd", "", 0, MC_TYPE_INFO, mc_tarn_list_cdr_columns_description, "show CDR columns definitions", 0},
    /*  50 */ {"sr", "", 0, MC_TYPE_CTRL, mc_tarn_reset_call_statistics, "reset call statistics", 0},
    /*  51 */ {"fin", "X", 0, MC_TYPE_CTRL, mc_tarn_finish_call_by_index, "finish call at index X", 0},
    /*  52 */ {"finp", "X", 0, MC_TYPE_CTRL, mc_tarn_finish_call_by_pid, "finish call with cid X", 0},
    /*  53 */ {"finall", "", 0, MC_TYPE_CTRL, mc_tarn_finish_all_calls, "finish all calls", 0},
    /*  54 */ {"x", "", 0, MC_TYPE_CTRL, mc_tarn_shutdown, "shutdown of tarn", 0},
    /*  55 */ {"shutdown", "", 0, MC_TYPE_CTRL, mc_tarn_instant_shutdown, "instant shutdown of tarn", 0},
    /*  56 */ {"kill", "", 0, MC_TYPE_HIDDEN | MC_TYPE_CTRL, mc_tarn_segfault, "exit with segfault", 0},
    /*  57 */ {"q", "", 0, MC_TYPE_CTRL, mc_tarn_client_disconnect, "disconnect client", 0},
    /*  58 */ {"rcpt", "", 0, MC_TYPE_CTRL, mc_tarn_reload_call_progress_tables, "reload call progress tables", 0},
    /*  59 */ {"rd", "", 0, MC_TYPE_CTRL, mc_tarn_reload_dialplan, "reload dialplan", 0},
    /*  60 */ {"cdrrotate", "", 0, MC_TYPE_CTRL, mc_tarn_rotate_cdr, "rotate cdr log", 0},
    /*  61 */ {"cdrflush", "", 0, MC_TYPE_CTRL, mc_tarn_flush_cdr_file, "flush cdr log file", 0},
    /*  62 */ {"logrotate", "", 0, MC_TYPE_CTRL, mc_tarn_rotate_tarn_log, "rotate tarn log", 0},
    /*  63 */ {"logflush", "", 0, MC_TYPE_CTRL, mc_tarn_flush_tarn_log, "flush tarn log file", 0},
    /*  64 */ {"loop", "X", 0, MC_TYPE_CTRL, mc_tarn_loop_rtp_for_call_index, "loop RTP audio for call at index X", 0},
    /*  65 */ {"r", "", 0, MC_TYPE_INFO | MC_TYPE_SIP, mc_sip_list_outbound_registrations, "list outbound registrations", 0},
    /*  66 */ {"rr", "", 0, MC_TYPE_INFO | MC_TYPE_SIP, mc_sip_list_outbound_registrations_compact, "list outbound registrations and validations compact", 0},
    /*  67 */ {"rs", "", 0, MC_TYPE_SIP, mc_sip_reload_peers, "reload sip peers", 0},
    /*  68 */ {"rss", "", 0, MC_TYPE_SIP, mc_sip_reload_peers_soft, "reload sip peers ", 0},
    /*  69 */ {"rsi", "", 0, MC_TYPE_SIP, mc_refresh_iptables, "refreshes sip iptables rules", 0},
    /*  70 */ {"rm", "X", 0, MC_TYPE_HIDDEN | MC_TYPE_SIP, mc_remove_sip_registration, "releases a sip register handle and frees the nua handle", 0},
    /*  71 */ {"ssm", "", 0, MC_TYPE_HIDDEN | MC_TYPE_SIP, mc_sofia_statistics_memory, "prints sofia memory statistics", 0},
    /*  72 */ {"rsr", "X", 0, MC_TYPE_HIDDEN | MC_TYPE_SIP, mc_refresh_sip_registration, "sends re-register", 0},
    /*  73 */ {"cu", "X", 0, MC_TYPE_INFO, mc_tarn_list_channel_usage_by_call_index, "list channel usage for call at index X", 0},
    /*  74 */ {"s", "", 0, MC_TYPE_INFO, mc_tarn_list_info_for_timeslot, "list info for msp timeslot", 0},
    /*  75 */ {"ltdm", "", 0, MC_TYPE_INFO, mc_tarn_list_tdm, "list tdm ", 0},
    /*  76 */ {"pcm", "", 0, MC_TYPE_INFO, mc_tarn_list_pcm_table, "list remote pcm table", 0},
    /*  77 */ {"fw", "", 0, MC_TYPE_INFO, mc_tarn_list_msp_firmware, "list msp firmware version", 0},
    /*  78 */ {"hc", "", 0, MC_TYPE_INFO, mc_tarn_list_hardware_conf, "list parsed hardware.conf", 0},
    /*  79 */ {"tcl", "", 0, MC_TYPE_INFO, mc_transcoding_list_timeslots, "tcl", 0},
    /*  80 */ {"scu", "", 0, MC_TYPE_INFO, mc_tarn_show_channel_usage, "scu", 0},
    /*  81 */ {"lpcm", "", 0, MC_TYPE_INFO, mc_tarn_list_remote_pcm, "list info about remote bridging", 0},
    /*  82 */ {"testmsp", "X", 0, MC_TYPE_CTRL, mc_tarn_test_msp, "test msp", 0},
    /*  83 */ {"teststopmsp", "", 0, MC_TYPE_CTRL, mc_tarn_teststop_msp, "stop test msp", 0},
    /*  84 */ {"bridge", "T1:T2", 0, MC_TYPE_HIDDEN | MC_TYPE_CTRL, mc_tarn_bridge_timeslots, "bridge logical timeslots, T1 and T2 are the logical timeslots to be bridged", 0},
    /*  85 */ {"callts", "T1", 0, MC_TYPE_HIDDEN | MC_TYPE_CTRL, mc_tarn_call_tdm, "creates a call on the logical timeslot T1", 0},
    /*  86 */ {"pr", "X", 0, MC_TYPE_ISDN, mc_isdn_port_restart, "restart ISDN port X", 0},
    /*  87 */ {"i", "", 0, MC_TYPE_ISDN, mc_isdn_list_info, "list ISDN info", 0},
    /*  88 */ {"ii", "", 0, MC_TYPE_ISDN, mc_isdn_list_info_compact, "list ISDN info compact", 0},
    /*  89 */ {"bl", "X", 0, MC_TYPE_ISDN, mc_isdn_block_port, "block ISDN port X", 0},
    /*  90 */ {"itp", "X", 0, MC_TYPE_ISDN, mc_isdn_set_time_from_isdn, "set time from ISDN to be active on port X", 0},
    /*  91 */ {"ev_mcid:", "X", 0, MC_TYPE_ISDN, mc_isdn_send_event_mcid, "send MCID Facility on call at index X", 0},
    /*  92 */ {"ev_hold:", "X", 0, MC_TYPE_ISDN, mc_isdn_send_event_hold, "send HOLD message on call at index X", 0},
    /*  93 */ {"ev_suspend:", "X", 0, MC_TYPE_ISDN, mc_isdn_send_event_suspend, "send SUSPEND message on call at index X", 0},
    /*  94 */ {"sns", "", 0, MC_TYPE_ISDN, mc_isdn_list_ton_statistics, "list ton call statistics", 0},
    /*  95 */ {"rns", "", 0, MC_TYPE_ISDN, mc_isdn_reset_ton_statistics, "reset ton call statistics", 0},
    /*  96 */ {"lih", "X", 0, MC_TYPE_ISDN, mc_isdn_list_event_history, "list ISDN event history for call at index X", 0},
    /*  97 */ {"bc", "", 0, MC_TYPE_ISDN, mc_isdn_list_bchannels, "list bchannel info", 0},
    /*  98 */ {"bcf", "", 0, MC_TYPE_ISDN, mc_isdn_list_bchannels_full, "list bchannel info full", 0},
    /*  99 */ {"cl", "", 0, MC_TYPE_ISDN, mc_isdn_list_channel_spender_info, "list channel spender info", 0},
    /* 100 */ {"l2up", "X", 0, MC_TYPE_ISDN, mc_isdn_get_l2_up, "get L2 up on ISDN port X", 0},
    /* 101 */ {"l2down", "X", 0, MC_TYPE_ISDN, mc_isdn_get_l2_down, "get L2 down on ISDN port X ", 0},
    /* 102 */ {"sis", "X", 0, MC_TYPE_ISDN, mc_isdn_send_status_enquiry, "send ISDN STATUS request on call at index X", 0},
    /* 103 */ {"cfact:", "P:N:T:tonN:tonT", 0, MC_TYPE_ISDN, mc_isdn_activate_diversion, "activate diversion for port P and local number N to target number T, tonN and tonT are optional and define the ton", 0},
    /* 104 */ {"cfdeact:", "P:N", 0, MC_TYPE_ISDN, mc_isdn_deactivate_diversion, "deactivate diversion for port P and number N", 0},
    /* 105 */ {"cfquery:", "P:N", 0, MC_TYPE_ISDN, mc_isdn_query_diversion, "query diversion", 0},
    /* 106 */ {"cfnum:", "P:N", 0, MC_TYPE_ISDN, mc_isdn_interrogate_numbers, "interrogate numbers", 0},
    /* 107 */ {"ir", "X", 0, MC_TYPE_ISDN, mc_isdn_send_restart, "send restart", 0},
    /* 108 */ {"a", "", 0, MC_TYPE_ANALOG, mc_analog_list_info, "list analog info", 0},
    /* 109 */ {"cas", "", 0, MC_TYPE_ANALOG, mc_cas_list_info, "list cas info", 0},
    /* 110 */ {"lp", "", 0, MC_TYPE_INFO, mc_cas_list_configured_ports, "show info of configured ports", 0},
    /* 111 */ {"lh", "X", 0, MC_TYPE_INFO, mc_cas_list_event_history, "list cas event history", 0},
    /* 112 */ {"lhc", "", 0, MC_TYPE_INFO, mc_cas_clear_event_history, "list cas event history", 0},
    /* 113 */ {"lk", "X", 0, MC_TYPE_HIDDEN | MC_TYPE_INFO, mc_tarn_redirect_two_timeslots, "test cas", 0},
    /* 114 */ {"lt", "X", 0, MC_TYPE_INFO, mc_tarn_list_tonehistory, "list tonedet/gen history for call object", 0},
    /* 115 */ {"ccp", "X", 0, MC_TYPE_INFO, mc_cas_e1_clear_port, "tries to reset E1 port", 0},
    /* 116 */ {"poogli", "X", 0, MC_TYPE_GSM, mc_gsm_power_off_on_li, "power off and on gsm line interface X", 0},
    /* 117 */ {"rgp", "X", 0, MC_TYPE_GSM, mc_gsm_port_restart, "restart gsm port X", 0},
    /* 118 */ {"ssms", "", 0, MC_TYPE_GSM, mc_gsm_flush_sms_queue, "flush sms queue", 0},
    /* 119 */ {"gi", "", 0, MC_TYPE_GSM, mc_gsm_list_extended_data, "list extended gsm data", 0},
    /* 120 */ {"gi", "X", 0, MC_TYPE_GSM, mc_gsm_list_extended_data, "list extended gsm data port", 0},
    /* 121 */ {"g", "", 0, MC_TYPE_GSM, mc_gsm_list_status, "list gsm status", 0},
    /* 122 */ {"gg", "", 0, MC_TYPE_GSM, mc_gsm_retrieve_and_list_status, "retrieve and list gsm status", 0},
    /* 123 */ {"ggi", "", 0, MC_TYPE_GSM, mc_gsm_retrieve_extended_data, "retrieve extended gsm data", 0},
    /* 124 */ {"ggr", "X", 0, MC_TYPE_GSM, mc_gsm_reset_extended_data, "resets extended gsm data for given port", 0},
    /* 125 */ {"ats", "X:C", 0, MC_TYPE_GSM, mc_gsm_send_at_command_queued_short, "send queued AT command C on port X with short 5 sec. timeout", 0},
    /* 126 */ {"atl", "X:C", 0, MC_TYPE_GSM, mc_gsm_send_at_command_queued_long, "send queued AT command C on port X with long 60 sec. timeout", 0},
    /* 127 */ {"at", "X:C", 0, MC_TYPE_GSM, mc_gsm_send_at_command, "send AT command C on port X", 0},
    /* 128 */ {"goret", "X", 0, MC_TYPE_GSM, mc_gsm_retrieve_operator_list, "retrieve gsm operator list from network on port X", 0},
    /* 129 */ {"goshow", "X", 0, MC_TYPE_GSM, mc_gsm_show_operator_list, "show retrieved gsm operator list on port X", 0},
    /* 130 */ {"golist", "", 0, MC_TYPE_GSM, mc_gsm_list_operators, "show current gsm operator setting", 0},
    /* 131 */ {"goset", "X:Y:Z", 0, MC_TYPE_GSM, mc_gsm_set_operator, "set gsm operator on port X to mode Y to Z", 0},
    /* 132 */ {"gofset", "X:Y:F:Z", 0, MC_TYPE_GSM, mc_gsm_set_operator_full, "set gsm operator on port X to mode Y in format F to Z", 0},
    /* 133 */ {"gsmpins", "P", 0, MC_TYPE_GSM, mc_gsm_get_pin_status, "get gsm pin status on port P", 0},
    /* 134 */ {"gsmpin", "P:O:N", 0, MC_TYPE_GSM, mc_gsm_set_pin, "set gsm pin on port P, O = old pin, N = new pin", 0},
    /* 135 */ {"ussd:", "P:C", 0, MC_TYPE_GSM, mc_gsm_ussd_send_code, "send ussd code C to gsm port P", 0},
    /* 136 */ {"ussds", "", 0, MC_TYPE_GSM, mc_gsm_ussd_show_stats, "show stats for last USSD codes and the retreived answers", 0},
    /* 137 */ {"ussdr", "", 0, MC_TYPE_GSM, mc_gsm_ussd_reset_stats, "reset USSD stats list", 0},
    /* 138 */ {"ussdc", "X", 0, MC_TYPE_GSM, mc_gsm_ussd_cancel_command, "cancel ongoing USSD transaction on port P", 0},
    /* 139 */ {"rgc", "", 0, MC_TYPE_GSM, mc_gsm_reload_config, "reloads GSM config", 0},
    /* 140 */ {"lrtp", "", 0, MC_TYPE_INFO, mc_tarn_list_rtp, "list rtp", 0},
    /* 141 */ {"verbose", "", 0, MC_TYPE_LOG, mc_log_toggle_verbose_msg, "toggle verbose msg on/off", 0},
    /* 142 */ {"verbose0", "", 0, MC_TYPE_LOG, mc_log_verbose_msg_off, "verbose msg off", 0},
    /* 143 */ {"verbose1", "", 0, MC_TYPE_LOG, mc_log_verbose_msg_on, "verbose msg on", 0},
    /* 144 */ {"v", "", 0, MC_TYPE_LOG, mc_log_set_level_debug, "set debug log level", 0},
    /* 145 */ {"v", "X", 0, MC_TYPE_LOG, mc_log_set_level_debug, "set debug log level", 0},
    /* 146 */ {"m", "", 0, MC_TYPE_LOG, mc_log_set_level_message, "set message log level", 0},
    /* 147 */ {"m", "X", 0, MC_TYPE_LOG, mc_log_set_level_message, "set message log level", 0},
    /* 148 */ {"V", "", 0, MC_TYPE_LOG, mc_log_show_verbosity, "show current log settings", 0},
    /* 149 */ {"ld", "X", 0, MC_TYPE_LOG, mc_log_debug_activate, "set debug logging: X=0 deactivate debug logging, X=1 activate debug logging", 0},
    /* 150 */ {"lm", "X", 0, MC_TYPE_LOG, mc_log_message_activate, "set message logging: X=0 deactivate message logging, X=1 activate message logging", 0},
    /* 151 */ {"ln", "X", 0, MC_TYPE_LOG, mc_log_nmessage_activate, "set message logging: X=0 deactivate nmessage logging, X=1 activate nmessage logging", 0},
    /* 152 */ {"ll", "", 0, MC_TYPE_LOG, mc_log_local_file_logging, "show local file logging settings", 0},
    /* 153 */ {"ll", "X", 0, MC_TYPE_LOG, mc_log_local_file_logging, "set local file logging settings, X=a or X=1 => activate, X=d or X=1 deactivate", 0},
    /* 154 */ {"n", "", 0, MC_TYPE_LOG, mc_log_set_netlog, "change netlog target", 0},
    /* 155 */ {"n:", "X", 0, MC_TYPE_LOG, mc_log_set_netlog, "change netlog target", 0},
    /* 156 */ {"t", "", 0, MC_TYPE_LOG, mc_log_netlog_toggle, "toggle netlog on/off", 0},
    /* 157 */ {"t0", "", 0, MC_TYPE_LOG, mc_log_netlog_off, "switch netlog off", 0},
    /* 158 */ {"t1", "", 0, MC_TYPE_LOG, mc_log_netlog_on, "switch netlog on", 0},
    /* 159 */ {"ts", "", 0, MC_TYPE_LOG, mc_log_netlog_show, "show current netlog setting", 0},
    /* 160 */ {"sl", "X", 0, MC_TYPE_LOG, mc_log_set_sofia_log_level, "set sofia log level for module Y to X => Y can be tport,iptsec,nta,stun,nth_client,nth_server,sresolv,nua,soa,nea,default,all", 0},
    /* 161 */ {"dbg", "", 0, MC_TYPE_LOG, mc_log_toggle_debug_printing, "toggle debugging on/off", 0},
    /* 162 */ {"nlog", "X", 0, MC_TYPE_LOG, mc_log_print_nlog_message, "print nlog message", 0},
    /* 163 */ {"setud", "", 0, MC_TYPE_MSP, mc_set_unified_diag, "set Unified Diagnostic to debug analysis", 0},
    /* 164 */ {"unsetud", "", 0, MC_TYPE_MSP, mc_unset_unified_diag, "unset Unified Diagnostic", 0},
    /* 165 */ {"uddst", "X:Y:Z:A:B", 0, MC_TYPE_MSP, mc_configure_address_dst, "configure the IP-Address destination X.Y.Z.A:B", 0},
    /* 166 */ {"udcmd", "X:Y", 0, MC_TYPE_MSP, mc_log_unified_diag_reportcmd, "activate/deactivate at channel level the command report to the Mindspeed: X=0 to deactivate or X=1 to activate and Y the call index (0 <= Y <= 254)", 0},
    /* 167 */ {"udtdmrx", "X:Y", 0, MC_TYPE_MSP, mc_log_unified_diag_tdm_rx, "activate/deactivate at device/channel level the debug logging of TDM RX: X=0 to deactivate or X=1 to activate and Y the call index (0 <= Y <= 254 for the specified channel and Y = 255 for the supervisor)", 0},
    /* 168 */ {"udtdmtx", "X:Y", 0, MC_TYPE_MSP, mc_log_unified_diag_tdm_tx, "activate/deactivate at device/channel level the debug logging of TDM TX: X=0 to deactivate or X=1 to activate and Y the call index (0 <= Y <= 254 for the specified channel and Y = 255 for the supervisor)", 0},
    /* 169 */ {"udpcktrx", "X:Y", 0, MC_TYPE_MSP, mc_log_unified_diag_packet_rx, "activate/deactivate at channel level a packet RX capture: X=0 to deactivate or X=1 to activate and Y the call index (0 <= Y <= 254 for the specified channel)", 0},
    /* 170 */ {"udpckttx", "X:Y", 0, MC_TYPE_MSP, mc_log_unified_diag_packet_tx, "activate/deactivate at channel level a packet TX capture: X=0 to deactivate or X=1 to activate and Y the call index (0 <= Y <= 254 for the specified channel)", 0},
    /* 171 */ {"udspuiop", "X", 0, MC_TYPE_MSP, mc_log_unified_diag_spu_ioparams, "activate/deactivate at device level the logging of SPU IOPARAMS: X=0 to deactivate or X=1 to activate", 0},
    /* 172 */ {"udspuis", "X", 0, MC_TYPE_MSP, mc_log_unified_diag_spu_instream, "activate/deactivate at device level the logging of SPU INSTREAM: X=0 to deactivate or X=1 to activate", 0},
    /* 173 */ {"udspuos", "X", 0, MC_TYPE_MSP, mc_log_unified_diag_spu_outstream, "activate/deactivate at device level the logging of SPU OUTSTREAM: X=0 to deactivate or X=1 to activate", 0},
    /* 174 */ {"uddsp", "X:Y", 0, MC_TYPE_MSP, mc_log_unified_diag_dsp_task_ioparams, "activate/deactivate at device/channel level the logging of DSP TASK IOPARAMS: X=0 to deactivate or X=1 to activate and Y the call index (0 <= Y <= 254 for the specified channel and Y = 255 for the supervisor)", 0},
    /* 175 */ {"bert", "X", 0, MC_TYPE_MISC, mc_bert_test_start_for_call, "start bert for call at index X", 0},
    /* 176 */ {"sbert", "X", 0, MC_TYPE_MISC, mc_bert_test_fetch_statistics_for_call, "fetch bert statistics for call at index X", 0},
    /* 177 */ {"lbert", "X", 0, MC_TYPE_MISC, mc_bert_test_list_statistics_for_call, "list bert statistics for call at index X", 0},
    /* 178 */ {"cbert", "X", 0, MC_TYPE_MISC, mc_bert_test_list_statistics_for_channel, "list bert statistics for channel X", 0},
    /* 179 */ {"pbert", "X", 0, MC_TYPE_MISC, mc_bert_test_set_custom_test_pattern, "set bert test pattern to value X (HEX format)", 0},
    /* 180 */ {"tbert", "X", 0, MC_TYPE_MISC, mc_bert_test_set_test_mode, "X=0: use automatic test pattern for bert, X=1: use custom test pattern for bert", 0},
    /* 181 */ {"dti", "X", 0, MC_TYPE_MISC, mc_dialplan_test_from_isdn, "test dialplan for an incoming isdn call", 0},
    /* 182 */ {"dta", "X", 0, MC_TYPE_MISC, mc_dialplan_test_from_analog, "test dialplan for an incoming analog call", 0},
    /* 183 */ {"dtg", "X", 0, MC_TYPE_MISC, mc_dialplan_test_from_gsm, "test dialplan for an incoming gsm call", 0},
    /* 184 */ {"dts", "X", 0, MC_TYPE_MISC, mc_dialplan_test_from_sip, "test dialplan for an incoming sip call", 0},
    /* 185 */ {"fucs2", "X", 0, MC_TYPE_HIDDEN, mc_util_ucs2_to_utf8, "convert X from UCS to UTF8", 0},
    /* 186 */ {"fgsm", "X", 0, MC_TYPE_HIDDEN, mc_util_gsm_to_utf8, "convert X from HEXGSM to UTF8", 0},
    /* 187 */ {"futf8", "X", 0, MC_TYPE_HIDDEN, mc_util_utf8_to_ucs2, "convert X from UTF8 to UCS", 0},
    /* 188 */ {"tti", "XY", 0, MC_TYPE_HIDDEN, mc_util_telnet_test_variable, "set test variable X to Y", 0},
    /* 189 */ {"tti", "", 0, MC_TYPE_HIDDEN, mc_util_telnet_test_variable, "list test variables", 0},
    /* 190 */ {"hold", "X", 0, MC_TYPE_HIDDEN, mc_isdn_test_hold_call_at_index, "hold call at index X", 0},
    /* 191 */ {"retr", "X", 0, MC_TYPE_HIDDEN, mc_isdn_test_retrieve_call_at_index, "retrieve call at index X", 0},
    /* 192 */ {"ect", "X", 0, MC_TYPE_HIDDEN, mc_isdn_test_ect_call_at_index, "ect call at index X", 0},
    /* 193 */ {"inf", "X", 0, MC_TYPE_HIDDEN, mc_isdn_test_info_element, "ect call at index X", 0},
    /* 194 */ {"ttest", "X", 0, MC_TYPE_HIDDEN, mc_isdn_test_tone, "test tones for given language code", 0},
    /* 195 */ {"sendfac_pid", "X:Y", 0, MC_TYPE_ISDN, mc_isdn_send_facility_by_pid, "send base64 encoded facility on call with pid x", 0},
    /* 196 */ {"sendfac_idx", "X:Y", 0, MC_TYPE_ISDN, mc_isdn_send_facility_by_idx, "send base64 encoded facility on call with call index x", 0},
    /* 197 */ {"mlts", "", 0, MC_TYPE_HIDDEN, mc_test_list_msp_timeslots, "list timeslot channel map", 0},
    /* 198 */ {"mdio", "X", 0, MC_TYPE_HIDDEN, mc_mdio_command, "set mdio command", 0},
    /* 199 */ {"mspcmd:", "X", 0, MC_TYPE_HIDDEN, mc_msp_command, "takes a command for the msp", 0},
    /* 200 */ {"vor", "X", 0, MC_TYPE_HIDDEN, mc_util_vopena_restart, "vopena restart for active voice channel at call index X", 0},
    /* 201 */ {"caslog", "", 0, MC_TYPE_HIDDEN, mc_cas_log_state, "current cas log state", 0},
    /* 202 */ {"caslog", "X", 0, MC_TYPE_HIDDEN, mc_cas_log_set, "set current cas log state", 0},
    /* 203 */ {"t1t", "X:Y", 0, MC_TYPE_HIDDEN, mc_util_t1_bridge_test, "t1 bridge test", 0},
    /* 204 */ {"srtp", "X", 0, MC_TYPE_HIDDEN, mc_util_srtp_stat, "srtp stat", 0},
    /* 205 */ {"xt", "", 0, MC_TYPE_MSP, mc_msp_tdm_sync_stats, "show MSP TDM sync statistics (FPGA<->Mindspeed), no reset", 0},
    /* 206 */ {"xt1", "", 0, MC_TYPE_MSP, mc_msp_tdm_sync_stats_reset, "show MSP TDM sync statistics, reset after read", 0},
    /* 207 */ {"xp", "X", 0, MC_TYPE_MSP, mc_msp_plyerr_stats, "show MSP voice playout error stats for call index X, no reset", 0},
    /* 208 */ {"xp1", "X", 0, MC_TYPE_MSP, mc_msp_plyerr_stats_reset, "show MSP voice playout error stats for call index X, reset after read", 0},
    /* 209 */ {"lstun", "", 0, MC_TYPE_HIDDEN, mc_tarn_list_stunservers, "list stunservers and retrieved ips", 0},
    /* 210 */ {"dx", "", 0, MC_TYPE_HIDDEN, mc_tarn_dmalloc_exit, "dmalloc exit", 0},
    /* 211 */ {"dmw", "", 0, MC_TYPE_HIDDEN, mc_tarn_dmalloc_write, "dmalloc write", 0},
    /* 212 */ {"ttx", "X", 0, MC_TYPE_HIDDEN, mc_util_test_stuff, "test stuff", 0},
    /* 213 */ {"load", "", 0, MC_TYPE_HIDDEN, mc_tarn_get_system_load, "prints load string", 0},
    /* 214 */ {"mem", "X", 0, MC_TYPE_HIDDEN, mc_tarn_get_tarn_mem_usage, "prints percentage of system memory used by tarn", 0},
    /* 215 */ {"t38r", "X", 0, MC_TYPE_HIDDEN, mc_tarn_dbg_t38_reinvite, "forces t38 reinvite for call on index X", 0},
    /* 216 */ {"dnsenum", "X", 0, MC_TYPE_HIDDEN, mc_tarn_dns_query_enum, "dns enum query on X", 0},
    /* 217 */ {"dnsname", "X", 0, MC_TYPE_HIDDEN, mc_tarn_dns_query_name, "dns name query on X", 0},
    /* 218 */ {"tfac", "X", 0, MC_TYPE_HIDDEN, mc_tarn_test_send_facility, "send test facility", 0},
    /* 219 */ {"reject_register", "", 0, MC_TYPE_HIDDEN | MC_TYPE_SIP, mc_test_retry_after, "X=1: activates retry-after test, X=0: deactivates retry-after test", 0},
    /* 220 */ {"tg", "", 0, MC_TYPE_HIDDEN, mc_tarn_test_global_lock, "test global lock", 0},
    /* 221 */ {"dial:", "X", 0, MC_TYPE_HIDDEN, mc_telnet_init_call, "init telnet call", 0},
    /* 222 */ {"hangup", "", 0, MC_TYPE_HIDDEN, mc_telnet_hangup_call, "hangup telnet call", 0},
    /* 223 */ {"hangup:", "X", 0, MC_TYPE_HIDDEN, mc_telnet_hangup_call, "hangup telnet call/use pid", 0},
    /* 224 */ {"update:", "X", 0, MC_TYPE_HIDDEN, mc_telnet_update_call, "update telnet call", 0},
    /* 225 */ {"ifd", "", 0, MC_TYPE_HIDDEN, mc_itapi_list_fds, "list current itapi fds", 0},
    /* 226 */ {"p_casstatus", "", 0, MC_TYPE_INFO, mc_tarn_list_cas_status_parsable, "list cas status (parsable)", 0},
    /* 227 */ {"rit", "X", 0, MC_TYPE_HIDDEN, mc_sip_send_t38_reinvite, "sends t38 reinvite", 0},
    /* 228 */ {"rig", "X", 0, MC_TYPE_HIDDEN, mc_sip_send_g711_reinvite, "sends g711a reinvite", 0},
    /* 229 */ {"s2srrtp:", "X:Y:Z:P", 0, MC_TYPE_HIDDEN | MC_TYPE_SIP, mc_s2s_set_reinvite_rtp, "sets s2s RTP remote endpoint for call X leg Y=in|out to Z:P and restarts transcoding", 0},
    /* 230 */ {"acllw", "", 0, MC_TYPE_INFO, mc_acl_list_whitelist, "list sip whitelist", 0},
    /* 231 */ {"acllb", "", 0, MC_TYPE_INFO, mc_acl_list_blacklist, "list sip blacklist", 0},
    /* 232 */ {"acllb", "X", 0, MC_TYPE_INFO, mc_acl_list_blacklist, "list sip blacklist", 0},
    /* 233 */ {"aclla", "", 0, MC_TYPE_INFO, mc_acl_list_call_attempts, "list call attempt list", 0},
    /* 234 */ {"aclla", "X", 0, MC_TYPE_INFO, mc_acl_list_call_attempts, "list call attempt list", 0},
    /* 235 */ {"aclls", "", 0, MC_TYPE_INFO, mc_acl_list_settings, "list global blacklist settings", 0},
    /* 236 */ {"aclrs", "", 0, MC_TYPE_INFO, mc_acl_reload_dos_settings, "reload dos/acl settings", 0},
    /* 237 */ {"aclcb", "", 0, MC_TYPE_INFO, mc_acl_clear_blacklists, "completely clear all sip blacklists", 0},
    /* 238 */ {"aclcbl", "", 0, MC_TYPE_INFO, mc_acl_clear_blacklist_lan, "completely clear sip blacklist lan", 0},
    /* 239 */ {"aclcbl", "X", 0, MC_TYPE_INFO, mc_acl_clear_blacklist_lan, "clear sip blacklist by index", 0},
    /* 240 */ {"aclcbw", "", 0, MC_TYPE_INFO, mc_acl_clear_blacklist_wan, "clear sip blacklist by index", 0},
    /* 241 */ {"aclcbw", "X", 0, MC_TYPE_INFO, mc_acl_clear_blacklist_wan, "clear sip blacklist by index", 0},
    /* 242 */ {"acla", "X:Y", 0, MC_TYPE_HIDDEN | MC_TYPE_INFO, mc_acl_attempt, "simulate a packet from a sip peer", 0},
    /* 243 */ {"aclt", "X:Y", 0, MC_TYPE_HIDDEN | MC_TYPE_INFO, mc_acl_test_ip, "test ip against whitelist", 0},
    /* 244 */ {"dnsl", "", 0, MC_TYPE_INFO, mc_dns_list_cache, "dns list cache", 0},
    /* 245 */ {"dnsc", "", 0, MC_TYPE_INFO, mc_dns_clear_cache, "dns clear cache", 0},
    /* 246 */ {"dnsa", "X", 0, MC_TYPE_INFO, mc_dns_query_a, "dns a record query", 0},
    /* 247 */ {"dnss", "X", 0, MC_TYPE_INFO, mc_dns_query_srv, "dns srv record query", 0},
    /* 248 */ {"dnsov", "", 0, MC_TYPE_HIDDEN | MC_TYPE_INFO, mc_dns_update_overrides, "dns reload overrides from /tmp/tarn.dns", 0},
    /* 249 */ {"iptables", "", 0, MC_TYPE_HIDDEN | MC_TYPE_INFO, mc_iptables_show, "show internal iptables list", 0},
    /* 250 */ {"ccp", "", 0, MC_TYPE_HIDDEN | MC_TYPE_INFO, mc_cc_pool_show, "show call configuration pool", 0},
    /* 251 */ {"s2s", "X", 0, MC_TYPE_HIDDEN | MC_TYPE_INFO, mc_s2s_start_test_channel, "test s2s rtp", 0},
    /* 252 */ {"reo", "", 0, MC_TYPE_HIDDEN | MC_TYPE_INFO, mc_acl_reload_experimental_options, "reload experimental options", 0},
    /* 253 */ {"tdp", "", 0, MC_TYPE_SIP, mc_test_dp_auto, "tests dp auto source/dest function", 0},
    /* 254 */ {"analog_offhook", "X:Y", 0, MC_TYPE_INFO, mc_set_analog_offhook, "set analog port to offhook state, where X is the port, Y=1 enable, Y=2 disable", 0},
    /* 255 */ {"version", "", 0, MC_TYPE_INFO, mc_print_appfs_version, "prints appfs version", 0},
    /* 256 */ {"memleak", "X", 0, MC_TYPE_HIDDEN, mc_leak_mem, "leaks memory", 0},
    /* 257 */ {"memalloc", "X", 0, MC_TYPE_HIDDEN, mc_alloc_mem, "allocates memory", 0},
    /* 258 */ {"nhd", "", 0, MC_TYPE_HIDDEN, mc_nua_handle_debug_show, "show nua handle debug infos", 0},
    /* 259 */ {"sie", "X:Y", 0, MC_TYPE_HIDDEN, mc_send_isdn_information_event, "sends isdn information event with digit Y on call index X", 0},
    /* 260 */ {"tipt", "", 0, MC_TYPE_HIDDEN, mc_cc_test_iptables_memleak, "test iptables", 0},
    /* 261 */ {"ddd", "", 0, MC_TYPE_HIDDEN, mc_full_telnet_debugging, "turn on full telnet debugging.", 0},
    /* 262 */ {"leo", "", 0, MC_TYPE_HIDDEN, mc_list_experimental_options, "lists experimental options.", 0},
    /* 263 */ {"seo", "X", 0, MC_TYPE_HIDDEN, mc_show_experimental_option, "show the value of experimental option X.", 0},
    /* 264 */ {"snmplog", "", 0, MC_TYPE_HIDDEN, mc_activate_snmp_notify, "activate snmp messages on the corresponding file handle.", 0},
    /* 265 */ {"smsg:", "X|Y|Z", 0, MC_TYPE_HIDDEN, mc_sip_send_message, "send sip message, format; peer|to|msg .", 0},
    /* 266 */ {"tno", "X", 0, MC_TYPE_HIDDEN, mc_sip_send_test_notify_provisioning_trigger, "send test notify on sip peer at idx X.", 0},
    /* 267 */ {"sidc", "X", 0, MC_TYPE_HIDDEN, mc_isdn_send_sip_info_disconnect_for_call, "send sip info disconnect for call object at index X", 0},
    /* 268 */ {"sidp", "X", 0, MC_TYPE_HIDDEN, mc_isdn_send_sip_info_disconnect_for_isdn_port, "send sip info for all calls on ISDN port X", 0},
    /* 269 */ {"pdu", "", 0, MC_TYPE_HIDDEN, mc_gsm_get_pdu_mode, "gets pdu mode", 0},
    /* 270 */ {"pdu", "X", 0, MC_TYPE_HIDDEN, mc_gsm_set_pdu_mode, "sets pdu mode", 0},
    /* 271 */ {"tps", "X", 0, MC_TYPE_HIDDEN, mc_gsm_test_pdu_mode_incoming_sms, "tests pdu mode incoming SMS", 0},
    /* 272 */ {"tts", "X", 0, MC_TYPE_HIDDEN, mc_gsm_test_text_mode_incoming_sms, "tests text mode incoming SMS", 0},
    /* 273 */ {"tpc", "X", 0, MC_TYPE_HIDDEN, mc_gsm_test_pdu_mode_incoming_cds, "tests pdu mode incoming CDS", 0},
    /* 274 */ {"pcid", "X", 0, MC_TYPE_HIDDEN, mc_test_parse_analog_cid, "test parsing of analog cid, pass complete MSP hex payload", 0},
    /* 275 */ {"pclip", "X", 0, MC_TYPE_HIDDEN, mc_test_parse_lte_clip, "test parsing of lte clip, pass CLIP line", 0},
    /* 276 */ {"preg", "X", 0, MC_TYPE_HIDDEN, mc_test_lte_register_workaround, "test parsing of lte register workaround", 0},
    /* 277 */ {"tref", "X", 0, MC_TYPE_HIDDEN, mc_test_refer, "test sending refer with replaces", 0},
    /* 278 */ {"testcbm", "X", 0, MC_TYPE_HIDDEN, mc_simulate_gsm_cbm_read, "test cbm reception", 0},
    /* 279 */ {"csurv", "X", 0, MC_TYPE_HIDDEN, mc_gsm_csurv, "mobile network survey", 0},
    /* 280 */ {"wink", "X:Y:Z", 0, MC_TYPE_HIDDEN, mc_analog_set_wink, "set FXS wink settings X=port, Y=offset, Z=duration", 0},
    /* 281 */ {"tdmclock", "", 0, MC_TYPE_HIDDEN, mc_tdm_clock_status, "Queries the clock status of the TDM bus", 0},
};

#undef LATER

static_assert(sizeof mc_options / sizeof mc_options[0] == 281, "281 console commands");

int comp_mc_options(const void *a, const void *b)
{
    const mc_option &x = mc_options[*static_cast<const unsigned int *>(a)];
    const mc_option &y = mc_options[*static_cast<const unsigned int *>(b)];
    unsigned char cx = (unsigned char)x.command[0], cy = (unsigned char)y.command[0];
    if (cx != cy)
        return cx < cy ? -1 : 1;
    size_t lx = strlen(x.command), ly = strlen(y.command);
    if (lx != ly)
        return lx > ly ? -1 : 1; // the longer command first
    size_t px = strlen(x.parameters), py = strlen(y.parameters);
    if (px != py)
        return px < py ? -1 : 1;
    return 0;
}

int mc_init_options()
{
    unsigned int order[MC_OPTIONS_COUNT];
    for (unsigned int i = 0; i < MC_OPTIONS_COUNT; i++) {
        mc_option &o = mc_options[i];
        o.command_length = o.parameters[0] ? (int)strlen(o.command) : 0;
        order[i] = i;
    }
    qsort(order, MC_OPTIONS_COUNT, sizeof order[0], comp_mc_options);
    for (unsigned int k = 0; k < MC_OPTIONS_COUNT; k++)
        mc_options[k].index = order[k];
    return 0;
}

static thread_local const mc_option *dispatching;

const mc_option *mc_current_option()
{
    return dispatching;
}

void mc_set_current_option(const mc_option *o)
{
    dispatching = o;
}

int mc_not_available(const char *, FILE *out, int *)
{
    fprintf(out, "%s: not available in this build\n", dispatching ? dispatching->command : "");
    return 0;
}
