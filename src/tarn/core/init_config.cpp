#include "init_config.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "application.h"
#include "cdr_log.h"
#include "call_configuration.h"
#include "cause_map.h"
#include "confman.h"
#include "device_info.h"
#include "dns_cache.h"
#include "experimental_options.h"
#include "hardware_conf.h"
#include "init_logging.h"
#include "log.h"
#include "network_config.h"
#include "nonce_list.h"
#include "pg_sip_groups.h"
#include "sip_reload.h"
#include "sip_stack.h"
#include "stun_client.h"
#include "platform_path.h"
#include "schema.h"
#include "system_command.h"
#include "tdm_settings.h"
#include "tones.h"

static const char *const PLACEHOLDER = "/tmp/tarn.dummy";

int choose_config_path(const char *cli_path, const char *etc, const char *name, char *out, size_t size)
{
    int n;
    if (cli_path && cli_path[0])
        n = snprintf(out, size, "%s", cli_path);
    else if (etc && etc[0])
        n = snprintf(out, size, "%s/%s", etc, name);
    else
        n = snprintf(out, size, "%s", platform_path((std::string("/usr/conf/") + name).c_str()).c_str());
    return (n < 0 || (size_t)n >= size) ? -1 : 0;
}

int create_placeholder_file(const char *path)
{
    // A root daemon in a world-writable directory: never follow a planted
    // link, and empty only the regular file actually opened.
    int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return -1;
    struct stat st;
    int ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) == 0;
    close(fd);
    return ok ? 0 : -1;
}

int parse_experimental_options()
{
    char text[2048];
    if (!gp->config_tarn || cm_get(gp->config_tarn, text, sizeof text, 0, CFG_TARN_EXPERIMENTAL_OPTIONS) != 0) {
        fprintf(stderr, "Failed getting experimental options from tarn config, check your settings!");
        // Run on the defaults of an empty text rather than on zeros (which
        // would, among others, put the command runner in mode 0).
        _parse_experimental_options("");
        return -1;
    }
    return _parse_experimental_options(text);
}

static bool exists(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

#define FAIL(...) TARN_EXIT(99, __VA_ARGS__)

static void path_for(const char *cli_path, const char *name, char *out, size_t size)
{
    if (choose_config_path(cli_path, gp->cargs->etc, name, out, size) != 0)
        FAIL("path of %s is too long!", name);
}

// Loads one module's file, or the empty placeholder when the file is missing.
struct optional_module {
    const char *type;
    cm **slot;
    const char *using_fmt;      // "using ... config: %s\n"
    const char *failed_fmt;     // load failure of the real file, %s = path
    const char *missing_fmt;    // "... does not exist ...\n"
    const char *no_placeholder; // placeholder cannot be made, %s = placeholder
    const char *failed_dummy;   // load failure of the placeholder
};

static void load_module(const optional_module &m, const char *path, char *stored_path, size_t stored_size)
{
    std::string dummy = platform_path(PLACEHOLDER);
    if (exists(path)) {
        printf(m.using_fmt, path);
        *m.slot = configman_create(m.type);
        if (stored_path)
            snprintf(stored_path, stored_size, "%s", path);
        if (!*m.slot || cm_load(m.slot, path) != 0)
            FAIL(m.failed_fmt, path);
        return;
    }
    printf(m.missing_fmt, path);
    if (create_placeholder_file(dummy.c_str()) != 0)
        FAIL(m.no_placeholder, dummy.c_str());
    *m.slot = configman_create(m.type);
    if (!*m.slot || cm_load(m.slot, dummy.c_str()) != 0)
        FAIL(m.failed_dummy, dummy.c_str());
}

static void load_tarn_conf(application_object *app)
{
    char path[256];
    path_for(app->cargs->config_tarn, "tarn.conf", path, sizeof path);
    snprintf(app->path_config_tarn, sizeof app->path_config_tarn, "%s", path);
    if (!exists(path))
        FAIL("tarn config file: %s does not exist, cannot continue!", path);
    app->config_tarn = configman_create("TARN");
    printf("reading tarn config file: %s\n", path);
    if (!app->config_tarn || cm_load(&app->config_tarn, path) != 0)
        FAIL("Failed reading tarn config, check your file!");
}

static void load_sip_conf(application_object *app)
{
    char path[256];
    path_for(app->cargs->config_sip, "tarn.sip", path, sizeof path);
    if (exists(path)) {
        printf("using sip config: %s\n", path);
        app->config_sip = configman_create("SIP");
        snprintf(app->path_config_sip, sizeof app->path_config_sip, "%s", path);
        if (!app->config_sip || cm_load(&app->config_sip, path) != 0)
            FAIL("Failed reading sip config |%s|, check your file!", path);
    } else {
        std::string dummy = platform_path(PLACEHOLDER);
        printf("sip config file: %s does not exist, using default values\n", path);
        if (create_placeholder_file(dummy.c_str()) != 0)
            FAIL("no sip config file |%s| and couldn't open |%s|!", path, dummy.c_str());
        app->config_sip = configman_create("SIP");
        snprintf(app->path_config_sip, sizeof app->path_config_sip, "%s", dummy.c_str());
        if (!app->config_sip || cm_load(&app->config_sip, dummy.c_str()) != 0)
            FAIL("Failed reading temporary sip config |%s| , check your file!", dummy.c_str());
    }
}

void load_config_for_probe()
{
    if (cm_init() != 0)
        FAIL("cm_init failed, config engine is broken!");
    load_tarn_conf(gp);
    load_sip_conf(gp);
}

int init_config()
{
    application_object *app = gp;
    char path[256];

    // 1.
    if (cm_init() != 0)
        FAIL("cm_init failed, config engine is broken!");

    // 2. device identity and the hardware description (start-up goes on
    // without one)
    get_device_info();
    parse_hardware_conf();

    // 3. tarn.conf
    load_tarn_conf(app);

    // 4. misc.conf (directory rule only)
    path_for(nullptr, "misc.conf", path, sizeof path);
    if (!exists(path))
        FAIL("misc.conf: %s does not exist, cannot continue", path);
    app->config_miscconf = configman_create("MISCCONF");
    if (!app->config_miscconf || cm_load(&app->config_miscconf, path) != 0)
        FAIL("Failed reading misc.conf, check your file!");

    // 5.-6.
    parse_experimental_options();
    init_logging();

    // 7. media bridging
    char buf[256];
    if (cm_get(app->config_tarn, buf, sizeof buf, 0, CFG_TARN_MSP_BRIDGING) != 0)
        FAIL("Failed getting bridging settings from tarn config, check your settings!");
    app->msp_bridging = strcasecmp(buf, "NO") == 0 ? 1 : strcasecmp(buf, "YES") == 0 ? 2 : 0;

    // 8. the CDR log and its thread
    prctl(PR_SET_NAME, "tarn.pthread", 0, 0, 0);
    if (app->log_cdr)
        cdr_log_start();
    prctl(PR_SET_NAME, "tarn", 0, 0, 0);

    // 9. TDM and device settings
    path_for(app->cargs->tdm_settings, "tarn.tdm", path, sizeof path);
    if (!exists(path))
        FAIL("tdm settings file: %s does not exist, cannot continue", path);
    if (read_device_config(path) == -1)
        FAIL("Couldn't read device config/tdm settings!");

    // 10. cause map path
    path_for(app->cargs->cause_map, "tarn.causes", path, sizeof path);
    snprintf(app->path_config_causes, sizeof app->path_config_causes, "%s", path);
    load_causes_map();

    // 11. SIP
    load_sip_conf(app);

    // 12. network facts
    if (get_network_config() == -1)
        FAIL("Couldn't get network config!");
    list_netconf();

    // 13. the default call configuration; -C prints it and ends here
    init_default_call_configuration();
    if (tarn_print_configuration) {
        cc_print_call_configuration(stdout, nullptr, 0, 0);
        fflush(stdout);
        exit(0);
    }

    // 14. the per-peer chains start empty (the board's firewall makes the
    // parent chain)
    run_system_command("iptables -F configured_sip_peers");

    // 15. DNS overrides
    if (app->experimental_options && app->experimental_options->eo_dns_override)
        dns_cache_update_overrides();

    // The SIP port groups build their Contact with what the STUN client
    // learned.
    pg_sip_hooks stun_hook{stun_learned_address};
    pg_sip_set_hooks(&stun_hook);

    // 16. SIP stack parameters, then the SIP port groups. When the stack
    // parameters fail, the groups are built at once: they still need to come
    // out right.
    if (init_global_sip_parameters() < 0 && pg_init_sip_port_group_struct() != 0)
        FAIL("Failed initializing global sip settings!");
    pg_init_sip_port_group_local();
    if (pg_init_sip_port_group_struct() != 0)
        FAIL("Failed getting config settings in init_sip_port_group_struct, check your settings!");

    // 17. the STUN servers of the groups and the STUN client's thread
    collect_stun_servers();
    stun_client_start();

    // 18. placeholder RTP target of remote bridging
    app->dummy_rtp_port_for_remote_bridging_offset = 20000;
    app->dummy_rtp_port = 999;
    snprintf(app->dummy_rtp_address, sizeof app->dummy_rtp_address, "127.0.0.1:999");

    // 19. tones (no placeholder)
    path_for(app->cargs->config_tones, "tarn.tones", path, sizeof path);
    if (exists(path)) {
        printf("using tone config: %s\n", path);
        app->config_tones = configman_create("TONES");
        if (!app->config_tones || cm_load(&app->config_tones, path) != 0)
            FAIL("Failed reading tone config, check your file!");
    } else {
        printf("tone config file: %s does not exist\n", path);
    }
    app->tonelist = nullptr;
    if (app->config_tones)
        init_tones();

    // 20.-22. ISDN, CAS, analog
    const optional_module lines[] = {
        {"ISDN", &app->config_isdn, "using isdn config: %s\n", "Failed reading isdn config |%s|, check your file!",
         "isdn config file: %s does not exist, using default values\n", "Couldn't open %s!",
         "Failed reading isdn config, check your file!"},
        {"CAS", &app->config_cas, "using cas config: %s\n", "Failed reading cas config |%s|, check your file!",
         "cas config file: %s does not exist, using default values\n", "Couldn't open %s!",
         "Failed reading cas config, check your file!"},
        {"ANALOG", &app->config_analog, "using analog config: %s\n",
         "Failed reading analog config |%s|, check your file!",
         "analog config file: %s does not exist, using default values\n", "Couldn't open %s!",
         "Failed reading analog config, check your file!"},
    };
    const char *line_cli[] = {app->cargs->config_isdn, app->cargs->config_cas, app->cargs->config_analog};
    const char *line_file[] = {"tarn.isdn", "tarn.cas", "tarn.analog"};
    for (int i = 0; i < 3; i++) {
        path_for(line_cli[i], line_file[i], path, sizeof path);
        load_module(lines[i], path, nullptr, 0);
    }

    // 23. GSM or LTE: tarn.lte when the hardware description names an LTE
    // module.
    const char *kind = hw_has_line_interface(LI_2LTE) ? "lte" : "gsm";
    char name[32];
    snprintf(name, sizeof name, "tarn.%s", kind);
    path_for(app->cargs->config_gsm, name, path, sizeof path);
    const optional_module gsm = {
        "GSM", &app->config_gsm, "using gsm config: %s\n", "Failed reading gsm config |%s|, check your file!",
        "gsm config file: %s does not exist\n", "Couldn't open %s!", "Failed reading dummy gsm config |%s|!"};
    load_module(gsm, path, exists(path) ? app->path_config_gsm : nullptr, sizeof app->path_config_gsm);

    // 24. dial plan path
    path_for(app->cargs->dialplan, "tarn.dialplan", path, sizeof path);
    snprintf(app->dialplan_path, sizeof app->dialplan_path, "%s", path);

    // 25. the empty nonce list; codecs the gateway supports at all
    if (!app->noncelist)
        app->noncelist = nonce_list_create();
    cc_allow_codecs(&app->all_supported_codecs, "pcma:pcmu:g729:g726-32");
    fflush(stdout);
    return 0;
}
