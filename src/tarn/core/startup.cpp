#include "startup.h"

#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "acl.h"
#include "analog_watchdog.h"
#include "application.h"
#include "cdr.h"
#include "cdr_log.h"
#include "call_configuration.h"
#include "call_lookups.h"
#include "call_progress.h"
#include "call_reset.h"
#include "callctl_hooks.h"
#include "sip_headers.h"
#include "dialplan.h"
#include "cleanup.h"
#include "cli.h"
#include "csm_codes.h"
#include "csm_message.h"
#include "console_loop.h"
#include "call_statistics.h"
#include "console_hooks.h"
#include "mc_isdn_tests.h"
#include "mc_itapi.h"
#include "mc_log.h"
#include "mc_tdm.h"
#include "mc_gsm.h"
#include "mc_options.h"
#include "status_server.h"
#include "stop_signals.h"
#include "tdm_settings.h"
#include "transcoding_pool.h"
#include "daemon.h"
#include "dns_cache.h"
#include "log.h"
#include "msp_device.h"
#include "msp_events.h"
#include "pcm_bridging.h"
#include "msp_dispatch.h"
#include "msp_link.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "network_config.h"
#include "nua_stack.h"
#include "pg_sip_groups.h"
#include "proxy_def.h"
#include "platform_path.h"
#include "route_list.h"
#include "experimental_options.h"
#include "gsm_bringup.h"
#include "gsm_port.h"
#include "housekeeping.h"
#include "bchannel_sweep.h"
#include "init_config.h"
#include "init_iptables.h"
#include "pg_port_groups.h"
#include "kvfwd.h"
#include "line_bringup.h"
#include "registrations.h"
#include "pools.h"
#include "confman.h"
#include "schema.h"
#include "state_names.h"
#include "sip_overload.h"
#include "sm_tasks.h"
#include "stop.h"
#include "stun_client.h"
#include "timer.h"

// Ports of a line module: the keys of its port section.
static int count_config_ports(cm *c)
{
    int n = 0, key = -1, next;
    while (c && n < 4096 && cm_get_next_id(c, 1, key, &next) == 1) {
        n++;
        key = next;
    }
    return n;
}

// Call objects for the configured lines; the ISDN library, started just
// before, knows which ISDN ports are primary-rate.
static int step_call_object_pools()
{
    experimental_options *eo = gp->experimental_options;
    int pri, other;
    count_isdn_ports_by_rate(&pri, &other);
    int n = get_number_of_needed_call_objects(pri, other,
                                              count_config_ports(gp->config_cas),
                                              count_config_ports(gp->config_analog),
                                              count_config_ports(gp->config_gsm),
                                              eo ? eo->eo_number_of_call_objects : 0);
    if (create_call_object_pools(n) != 0)
        return -1;
    sip_stacks_limit_proceeding(OPERATIONARRAYSIZE);
    return 0;
}

static int step_route_list()
{
    init_route_list(); // without routes the next-hop look-ups fail, start-up goes on
    return 0;
}

// The processor's MAC of the network facts into the six bytes the link uses.
static int step_msp_mac()
{
    network_config &n = gp->netconf;
    char text[sizeof n.msp_devmac];
    snprintf(text, sizeof text, "%s", n.msp_devmac);
    return mac_char_to_bytearray(text, n.msp_bin_devmac);
}

static int step_msp_interface()
{
    return msp_init_interface(gp->netconf.msp_ifname, gp->netconf.msp_bin_devmac);
}

static int step_msp_library()
{
    msp_extra_debugging = eo_lib.msp_extra_debugging;
    return msp_init_lib(handle_msp_event, format_msp_context);
}

// A device query queued for any timeslot, waited for; its answer reaches
// the event handler. Start-up does not look at the result.
static void query_device(int function_code)
{
    magic_csm q = create_query_csm_msg(function_code, CSM_CLASS_DEVICE, CSM_TYPE_QUERY, ++gp->msp_counter);
    _msp_queue_command(q, MSP_ADDRESS_DEVICE, nullptr, 1, 1, __FILE__, __func__, __LINE__);
}

static int step_processor_id_query()
{
    query_device(FC_SUPVSR_GET_DEVICE_TYPE);
    return 0;
}

static int step_processor_type()
{
    return msp_set_processor_type(gp->msp_processor_id);
}

static int step_firmware_query()
{
    query_device(FC_SUPVSR_GET_ARM_CODE_VERSION);
    LOGD(TARN, 0, nullptr, "FIRMWARE VERSION: %s\n", gp->firmware_version);
    return 0;
}

static int step_dialplan()
{
    const char *path = gp->dialplan_path;
    if (access(path, F_OK) != 0) {
        printf("dialplan: %s does not exist, starting with no dialplan\n", path);
        return 0;
    }
    printf("using dialplan: %s\n", path);
    fflush(stdout);
    dialplan_load(path);
    return 0;
}

// The built-in call-progress tables, then the file's; a missing file
// leaves only the built-in ones.
static int step_call_progress_tables()
{
    cpt_init_default_tables();
    cpt_parse_call_progress_tables(platform_path("/usr/conf/tarn.cpt").c_str());
    return 0;
}

static int step_access_control()
{
    acl_init();
    gp->msp_counter = 0;
    return 0;
}

// Only an unreadable multicast list stops start-up.
static int step_packet_filter_rules()
{
    return init_iptables() == -1 ? -1 : 0;
}

// The console reaches the parts of the daemon built so far through its
// hook record; the others answer that they are not part of this build.
static void connect_console_hooks()
{
    console_hooks h{};
    // once, whether a command or a signal asks first
    h.shutdown_nua = stop_signals_begin_stop;
    h.cc_print_call_configuration = cc_print_call_configuration;
    h.get_operation_by_telnet_fd = get_operation_by_telnet_fd;
    h.print_sm_state_call = print_sm_state_call;
    h.reset_op = reset_op;
    h.mc_handle_itapi_response = mc_handle_itapi_response;
    h.list_loglevels = list_loglevels;
    h.parse_and_update_netlog_target = parse_and_update_netlog_target;
    mc_set_hooks(&h);
    // The restart thread of the GSM ports restarts a port as the console does.
    gsm_hooks g{};
    g.restart_gsm_port = restart_gsm_port;
    gsm_set_hooks(&g);
}

// The dial plan finds its SIP peers and makes their proxy definitions
// through the SIP port groups.
static proxy_def *inbound_proxy_definition(port_group_sip *pgs, int user_index)
{
    const port_group_sip_user *user =
        pgs && user_index >= 0 && user_index < pgs->pgs_user_count ? pgs->pgs_users[user_index] : nullptr;
    return create_proxy_definition_by_pgs(pgs, user, SIP_INBOUND);
}

static proxy_def *outbound_proxy_definition(const char *to_id)
{
    return create_proxy_definition_by_id(to_id, SIP_OUTBOUND);
}

static void connect_dialplan_sip_iface()
{
    dialplan_sip_iface i{};
    i.get_port_group_sip_by_name = pg_get_port_group_sip_by_name;
    i.create_inbound_proxy_definition = inbound_proxy_definition;
    i.create_outbound_proxy_definition_by_id = outbound_proxy_definition;
    i.clone_proxy_definition = clone_proxy_definition;
    i.free_proxy_def = free_proxy_def;
    dialplan_set_sip_iface(&i);
}

// The SIP peer report names each registration's group.
static void connect_sip_peer_report_hooks()
{
    sip_peer_report_hooks h{};
    h.peer_group = pg_sip_group_of_registration;
    sip_peer_report_set_hooks(&h);
}

// Call and registration objects go back to their pools through the reset.
static void connect_reset_hooks()
{
    cleanup_hooks c{};
    c.reset_call = reset_op;
    c.reset_registration = reset_rop;
    cleanup_set_hooks(&c);
    registration_hooks r{};
    r.reset_rop = reset_rop;
    reg_set_hooks(&r);
    call_reset_hooks t{};
    t.transcoding_release_timeslot = transcoding_release_timeslot;
    t.transcoding_list_timeslots = [](const char *function, int line) { transcoding_list_timeslots(function, line); };
    call_reset_set_hooks(&t);
}

// The transcoding timeslot pool is built once the TDM map is read.
static void connect_tdm_hooks()
{
    tdm_hooks h{};
    h.list_tdm = mc_list_tdm;
    h.init_transcoding_timeslots_array = init_transcoding_timeslots_array;
    tdm_set_hooks(&h);
}

// Call detail records name the last event of a call.
static void connect_cdr_hooks()
{
    cdr_print_event = print_event;
}

// Housekeeping sweeps the ISDN B-channels; set before its threads run.
static void connect_housekeeping_hooks()
{
    housekeeping_hooks h{};
    h.check_bchannels = check_bchannels;
    h.mc_send_restart_now = [](int port) { mc_send_restart_now(stdout, port, 0); };
    housekeeping_set_hooks(&h);
}

// The console's listening socket; 0 is failure.
static int step_status_server()
{
    gp->socket_fd = init_status_server();
    return gp->socket_fd == 0 ? -1 : 0;
}

// The PCM bridging server's listening socket, on the server unit only.
static int step_pcm_server_socket()
{
    if (strcmp(gp->pcm_server, "1") != 0)
        return 0;
    gp->pcm_socket_fd = pcm_init_server();
    return gp->pcm_socket_fd == 0 ? -1 : 0;
}

// Ports of tarn.isdn and tarn.gsm, counted before the bring-up.
static int isdn_port_count, gsm_port_count;

static int step_isdn()
{
    return isdn_port_count > 0 ? init_isdn() : 0;
}

// Once the ISDN groups exist, the SIP peers they monitor learn of them.
static int step_monitored_sip_peers()
{
    pg_refresh_monitored_sip_peers();
    return 0;
}

static int step_registration_array()
{
    reg_init_outbound_registration_array();
    return 0;
}

// The modems come up here unless they wait for the console (the default);
// only a configuration or folder failure stops start-up.
static int step_gsm()
{
    experimental_options *eo = gp->experimental_options;
    if (gsm_port_count == 0 || (eo && eo->eo_gsm_init_after_telnet))
        return 0;
    return init_gsm() == -1 ? -1 : 0;
}

static int step_timer_service()
{
    return timer_new() != 0 ? -1 : 0;
}

// The start-up sequence. Rows without a function belong to parts of the
// daemon that this build does not contain yet; they keep their place so the
// order stays visible and each part plugs in where it belongs. Until GSM is
// brought up, its row builds the GSM port groups (which the bring-up does
// first).
const init_step init_application_steps[] = {
    {"registration array", step_registration_array, nullptr, nullptr, 0, nullptr},
    {"SIP stacks", init_nua_instance, nullptr, "NUA init failed!", 89, nullptr},
    {"SIP access control", step_access_control, nullptr, nullptr, 0, nullptr},
    {"start-up packet-filter rules", step_packet_filter_rules, nullptr, "Couldn't init iptables!", 89, nullptr},
    {"IP route list", step_route_list, nullptr, nullptr, 0, nullptr},
    {"media processor MAC", step_msp_mac, nullptr, "Couldn't parse MSP_MSPSIDEMAC!", 89, nullptr},
    {"media processor interface", step_msp_interface, nullptr, nullptr, 95, "Error setting up mindspeed interface %s!"},
    {"media processor library", step_msp_library, nullptr, nullptr, 94, "Error initializing msplib!"},
    {"processor id query", step_processor_id_query, nullptr, nullptr, 0, nullptr},
    {"processor type", step_processor_type, nullptr, nullptr, 92, "Couldn't identify mindspeed processor type!"},
    {"firmware version query", step_firmware_query, nullptr, nullptr, 0, nullptr},
    {"media processor device", init_msp_device, nullptr, nullptr, 93, "Couldn't initialize mindspeed device!"},
    {"timer service", step_timer_service, "init_application: Timer initialization failed!", "Timer initialization failed!", 89, nullptr},
    {"ISDN", step_isdn, "init_application: ISDN init failed!", "ISDN init failed!", 89, nullptr},
    {"monitored SIP peers", step_monitored_sip_peers, nullptr, nullptr, 0, nullptr},
    {"call-object and SIP-leg pools", step_call_object_pools, nullptr, nullptr, 0, nullptr},
    {"dial plan", step_dialplan, nullptr, nullptr, 0, nullptr},
    {"call-progress tables", step_call_progress_tables, nullptr, nullptr, 0, nullptr},
    {"GSM", step_gsm, "init_application: GSM init failed!", "GSM init failed!", 89, nullptr},
    {"analog", init_analog, "init_application: Analog init failed!", "Analog init failed!", 89, nullptr},
    {"analog watchdog", init_analog_watchdog, nullptr, nullptr, 0, nullptr},
    {"CAS", init_cas, "init_application: CAS init failed!", "CAS init failed!", 89, nullptr},
    {"status server socket", step_status_server, "init_application: Couldn't get free socket for status server!", "Couldn't get free socket for status server!", 89, nullptr},
    {"PCM bridging server socket", step_pcm_server_socket, "init_application: Couldn't get free socket for pcm server!", "Couldn't get free socket for pcm server!", 89, nullptr},
    {"state-machine task runner", callctl_start_task_runner, nullptr, nullptr, 89, nullptr},
    {"outgoing registrations", register_users, "init_application: Registering users failed!!", "Registering users failed!", 89, nullptr},
};
const int init_application_step_count = sizeof init_application_steps / sizeof init_application_steps[0];

void init_application()
{
    for (int i = 0; i < init_application_step_count; i++) {
        const init_step &s = init_application_steps[i];
        if (!s.step || s.step() == 0)
            continue;
        if (s.stderr_text)
            fprintf(stderr, "%s\n", s.stderr_text);
        if (s.reason)
            log_msg_debug(0, TARN, __FILE__, __LINE__, "init_application", nullptr, "%s", s.reason);
        // Only the interface text takes an argument: the interface's name.
        if (s.exit_text)
            TARN_EXIT(s.exit_code, s.exit_text, gp ? gp->netconf.msp_ifname : "");
        if (s.exit_code == 89)
            TARN_EXIT(89, "TARN initialization failed!");
    }
    if (gp)
        gp->init_lock = 1;
}

static void name_thread(const char *name)
{
    prctl(PR_SET_NAME, name, 0, 0, 0);
}

int tarn_orderly_stop()
{
    // The CDR file is closed in place and its thread ended first.
    if (gp)
        cdr_log_close();
    fputs("stopping threads\n", stderr);
    stop_threads();
    pcm_stop_threads();
    housekeeping_stop();
    stun_client_stop();
    join_sm_helper();
    usleep(300 * 1000);
    gsm_shutdown();
    std::string sg = platform_path("/sys/class/quilmar/safeguard/enabled");
    if (FILE *f = fopen(sg.c_str(), "w")) {
        fputc('0', f);
        fclose(f);
    }
    // Nothing a library thread uses may be torn down by the process's end
    // while the thread still runs.
    tarn_stop_libraries();
    stop_signals_end();
    return 0;
}

void check_if_msp_is_alive()
{
    load_config_for_probe();
    get_network_config(); // the MAC parse below decides
    if (step_msp_mac() != 0)
        TARN_EXIT(1, "Couldn't parse MSP_MSPSIDEMAC!");
    if (step_msp_interface() != 0)
        TARN_EXIT(95, "Error setting up mindspeed interface %s!", gp->netconf.msp_ifname);
    if (step_msp_library() != 0)
        TARN_EXIT(94, "Error initializing msplib!");
    query_device(FC_SUPVSR_GET_DEVICE_TYPE);
    exit(0);
}

static void run_diagnostic(const cli_result &res)
{
    switch (res.action) {
    case CLI_DEFAULT_SETTINGS:
    case CLI_MODULE_SETTINGS:
        cm_init();
        if (res.action == CLI_DEFAULT_SETTINGS)
            dump_default_config(stdout);
        else
            dump_default_config_module(stdout, res.argument);
        fflush(stdout);
        TARN_EXIT(2, "Couldn't parse CLI arguments!");
    case CLI_MSP_ALIVE:
        check_if_msp_is_alive();
    case CLI_DEFAULT_CALLCONF:
        init_default_call_configuration();
        cc_print_call_configuration(stdout, nullptr, 1, 0);
        fflush(stdout);
        TARN_EXIT(2, "Couldn't parse CLI arguments!");
    case CLI_RESOLVE: {
        char pattern[1024];
        resolve_address_to_regexp(res.argument, pattern, sizeof pattern);
        printf("%s\n", pattern);
        fflush(stdout);
        exit(0);
    }
    case CLI_SRV_RESOLVE:
        for (int transport : {SIP_TRANSPORT_UDP, SIP_TRANSPORT_TCP, SIP_TRANSPORT_TLS})
            dns_cache_free_srv_record(dns_cache_resolve_to_srv_record(res.argument, transport, 0));
        dns_cache_list(stdout);
        fflush(stdout);
        exit(0);
    case CLI_RUN: return;
    }
}

int tarn_main(int argc, char **argv)
{
    // A console peer that goes away must not end the daemon.
    signal(SIGPIPE, SIG_IGN);

    // A fatal end on any thread first stops the libraries' threads.
    tarn_set_exit_stop(tarn_stop_libraries);

    // 1. thread name and command line
    name_thread("tarn");
    static cli_args args; // lives for the whole process
    cli_result res;
    parse_cli(argc, argv, &args, &res);
    if (res.action != CLI_RUN) {
        application_create()->cargs = &args;
        init_locks();
        run_diagnostic(res);
    }

    // 2. the in-process packet-filter parser
    kvfwd_init("iptables", "1.2.11");

    // 3. process priority
    errno = 0;
    if (setpriority(PRIO_PROCESS, 0, -20) != 0)
        fprintf(stderr, "setpriority() failed with errno=%d\n", errno);

    // 4. application object and start time
    application_object *app = application_create();
    app->cargs = &args;
    app->tarn_start_time = read_uptime_seconds();

    // 5. locks, log levels
    init_locks();
    for (int m = 0; m < MODULECOUNT; m++) {
        log_set_loglevel_debug(log_levels_debug, m, 9);
        log_set_loglevel_message(m, 9);
    }

    // 6. daemon mode
    if (tarn_daemon_mode)
        fork_daemon();

    // SIGTERM and SIGINT stop the daemon in order, once it is up; the
    // thread that waits for them is the first one.
    if (stop_signals_install() != 0 || stop_signals_start(shutdown_nua) != 0)
        LOGD(TARN, 0, nullptr, "CRITICAL: no orderly stop on signals: %m");

    // Call control's services, before the threads of the configuration and
    // housekeeping may queue tasks.
    callctl_connect_hooks();
    connect_tdm_hooks();

    // 7. configuration
    if (init_config() == -1)
        TARN_EXIT(99, "Couldn't init config!");

    // 8. housekeeping threads; a thread takes its creator's name until it
    // sets its own
    app->run_msp_safeguard = 1;
    connect_housekeeping_hooks();
    name_thread("tarn.pthread");
    housekeeping_start();
    name_thread("tarn");
    app->pid_counter = 1;

    // 9. the ports of the configuration
    count_ports(&isdn_port_count, &gsm_port_count);
    usleep(100 * 1000);

    // 10. bring-up
    connect_dialplan_sip_iface();
    connect_sip_peer_report_hooks();
    connect_cdr_hooks();
    connect_reset_hooks();
    init_application();

    // 11.
    LOGN(TARN, 0, "TARN STARTED");
    LOGD(TARN, 2, nullptr, "Initialization finished successfully");

    // 12. the console on the status port
    connect_console_hooks();
    mc_init_options();
    app->run_status_server = 1;
    if (pthread_create(&app->status_thread, nullptr, status_server_thread, nullptr) != 0)
        LOGD(TARN, 0, nullptr, "CRITICAL: couldn't start the status server thread");

    // 13. PCM bridging with the other units
    pcm_start_threads();

    // 14. the modems after the console is up
    experimental_options *eo = app->experimental_options;
    if (eo && eo->eo_gsm_init_after_telnet) {
        count_ports(&isdn_port_count, &gsm_port_count);
        if (gsm_port_count > 0 && init_gsm() == -1)
            TARN_EXIT(90, "GSM init failed!");
    }

    // A signal that came during start-up begins the stop now.
    stop_signals_running();

    // 15. the console in the foreground
    if (!tarn_daemon_mode)
        read_commandline();

    // 16.
    wait_for_first_sip_stack();

    // 17.
    return tarn_orderly_stop();
}
