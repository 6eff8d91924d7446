#include "gsm_bringup.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "confman.h"
#include "device_info.h"
#include "experimental_options.h"
#include "fpga.h"
#include "gsm_lib.h"
#include "gsm_status.h"
#include "line_bringup.h"
#include "log.h"
#include "pg_port_groups.h"
#include "pools.h"
#include "schema.h"
#include "strtools.h"

namespace {

enum { GSM_LIST_ENTRIES = 7, GSM_CODEC_ENTRIES = 8, GSM_SETTINGS_SLOTS = 8 };
enum { SPOOL_MODE = 0770, SPOOL_OWNER = 1001, SPOOL_GROUP = 1001 };

std::string config_text(int key, size_t size = 4096)
{
    std::vector<char> buf(size);
    if (!gp->config_gsm || cm_get(gp->config_gsm, buf.data(), buf.size(), 0, key) != 0)
        return "";
    return buf.data();
}

void replace_text(char *&slot, const std::string &value)
{
    free(slot);
    slot = strdup(value.c_str());
}

} // namespace

void gsm_parse_provider(const char *entry, int *mode, int *numeric, int *access_technology)
{
    *mode = *numeric = *access_technology = 0;
    if (!entry || strlen(entry) <= 2 || (entry[0] != '1' && entry[0] != '2') || entry[1] != ':')
        return;
    *mode = entry[0] - '0';
    std::string rest = entry + 2;
    rest = rest.substr(0, rest.find(':'));
    std::vector<std::string> f = st_split_string(rest, '|');
    if (f.size() > 3)
        *numeric = atoi(f[3].c_str());
    if (f.size() > 4)
        *access_technology = atoi(f[4].c_str());
}

int gsm_parse_codec(const char *entry)
{
    long sum = 0;
    for (const std::string &number : st_split_string(entry ? entry : "", '|')) {
        sum += atol(number.c_str());
        if (sum > 255)
            return 0;
    }
    return sum < 0 ? 0 : (int)sum;
}

void gsm_config_get_general_settings()
{
    std::vector<std::string> pins = st_split_string(config_text(CFG_GSM_PIN), ',');
    std::vector<std::string> smscs = st_split_string(config_text(CFG_GSM_SMSC), ',');
    std::vector<std::string> providers = st_split_string(config_text(CFG_GSM_PROVIDER), ',');
    std::vector<std::string> codecs = st_split_string(config_text(CFG_GSM_CODEC), ',');
    for (int i = 0; i < GSM_SETTINGS_SLOTS; i++) {
        bool listed = i < GSM_LIST_ENTRIES;
        replace_text(gp->gsm_pins[i], listed && i < (int)pins.size() ? pins[i] : "");
        replace_text(gp->gsm_sms_centrals[i], listed && i < (int)smscs.size() ? smscs[i] : "");
        gsm_parse_provider(listed && i < (int)providers.size() ? providers[i].c_str() : "", &gp->gsm_provider_mode[i],
                           &gp->gsm_provider_numeric[i], &gp->gsm_access_technology[i]);
        gp->gsm_codecs[i] = i < (int)codecs.size() && i < GSM_CODEC_ENTRIES ? gsm_parse_codec(codecs[i].c_str()) : 0;
    }
}

int gsm_reload_config()
{
    return gp && gp->path_config_gsm[0] ? 0 : -1;
}

int filter_processing_extension(const struct dirent *entry)
{
    static const char ext[] = ".processing";
    size_t n = strlen(entry->d_name), e = sizeof ext - 1;
    return n >= e && strcmp(entry->d_name + n - e, ext) == 0 ? 1 : 0;
}

// Each claimed file of the outgoing folder whose first byte passes keep()
// is removed.
template <typename F> static void remove_claimed(const char *folder, F remove_it)
{
    struct dirent **list = nullptr;
    int n = scandir(folder, &list, filter_processing_extension, alphasort);
    if (n < 0) {
        printf("scanning directory %s failed", folder);
        fflush(stdout);
        return;
    }
    for (int i = 0; i < n; i++) {
        std::string path = std::string(folder) + "/" + list[i]->d_name;
        if (remove_it(path))
            unlink(path.c_str());
        free(list[i]);
    }
    free(list);
}

void clean_sms_processing_for_port(int port)
{
    if (!gp || !gp->gsm_sms_spool_out)
        return;
    remove_claimed(gp->gsm_sms_spool_out, [port](const std::string &path) {
        FILE *f = fopen(path.c_str(), "r");
        if (!f)
            return false;
        int c = fgetc(f);
        fclose(f);
        return c >= '0' && c <= '9' && c - '0' == port;
    });
}

// Which slots hold a GSM or LTE module that can be reset.
static bool resettable_module(int li, bool with_one_port_gsm)
{
    if (!gp->hi || li < 0 || li >= HWI_SLOTS)
        return false;
    const char *v = gp->hi->hwi_li_verbose_name[li];
    return strcmp(v, "DV2GSM") == 0 || strcmp(v, "DV2LTE") == 0 || (with_one_port_gsm && strcmp(v, "DV1GSM") == 0);
}

void *gsm_helper_thread_reset_line_interface(void *arg)
{
    int li = *static_cast<int *>(arg);
    if (!resettable_module(li, true))
        return nullptr;
    const int *ports = gp->hwconf.hwc_li[li].gsm_ports;
    LOGD(GSM, 5, nullptr, "GSM => resetting gsm on line interface %i, gport %i %i", li, ports[0], ports[1]);
    gsm_reset_line_interface(li, ports[0], ports[1]);
    return nullptr;
}

namespace {

struct spool_folder {
    char *application_object::*field;
    int key;
    const char *missing; // %s call tag, %s folder
};

const spool_folder sms_folders[] = {
    {&application_object::gsm_sms_spool_base, CFG_GSM_SMS_SPOOL_BASE,
     "%s GSM => failed: sms spool base folder %s not existing\n"},
    {&application_object::gsm_sms_spool_in, CFG_GSM_SMS_SPOOL_IN,
     "%s GSM => failed: sms spool in folder %s not existing\n"},
    {&application_object::gsm_sms_spool_out, CFG_GSM_SMS_SPOOL_OUT,
     "%s GSM => failed: sms spool out folder %s not existing\n"},
    {&application_object::gsm_sms_spool_failout, CFG_GSM_SMS_SPOOL_FAILOUT,
     "%s GSM => failed: sms spool failout folder %s not existing\n"},
    {&application_object::gsm_sms_spool_parts, CFG_GSM_SMS_SPOOL_PARTS,
     "%s GSM => failed: sms spool parts folder %s not existing\n"},
};
const spool_folder cbm_folders[] = {
    {&application_object::gsm_cbm_spool_base, CFG_GSM_CBM_SPOOL_BASE,
     "%s GSM => failed: cbm spool base folder %s not existing\n"},
    {&application_object::gsm_cbm_spool_in, CFG_GSM_CBM_SPOOL_IN,
     "%s GSM => failed: cbm spool in folder %s not existing\n"},
    {&application_object::gsm_cbm_spool_parts, CFG_GSM_CBM_SPOOL_PARTS,
     "%s GSM => failed: cbm spool parts folder %s not existing\n"},
};

bool is_dir(const char *path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Every folder exists (made when missing) and belongs to the spool's user.
template <size_t N> int prepare_folders(const spool_folder (&folders)[N])
{
    for (const spool_folder &f : folders) {
        const char *path = gp->*f.field;
        if (!is_dir(path))
            create_directory(path, SPOOL_MODE, SPOOL_OWNER, SPOOL_GROUP);
        if (!is_dir(path)) {
            fprintf(stderr, f.missing, cinfo(nullptr), path);
            LOGM(GSM, 32, f.missing, cinfo(nullptr), path);
            return -1;
        }
    }
    for (const spool_folder &f : folders) {
        const char *path = gp->*f.field;
        if (chown(path, SPOOL_OWNER, SPOOL_GROUP) != 0 || chmod(path, SPOOL_MODE) != 0)
            LOGD(GSM, 2, nullptr, "could not hand folder %s to %i:%i", path, SPOOL_OWNER, SPOOL_GROUP);
    }
    return 0;
}

template <size_t N> void read_folders(const spool_folder (&folders)[N])
{
    for (const spool_folder &f : folders)
        replace_text(gp->*f.field, config_text(f.key, 256));
}

// The port's setting in the GSM groups; the last group that lists it wins.
port_group_gsm_port_setting *port_setting(int port)
{
    port_groups *pg = pg_port_groups();
    port_group_gsm_port_setting *found = nullptr;
    for (int g = 0; pg && g < pg->port_groups_gsm_count; g++)
        for (int k = 0; k < pg->port_groups_gsm[g]->port_count; k++)
            if (pg->port_groups_gsm[g]->port_settings[k].port == port)
                found = &pg->port_groups_gsm[g]->port_settings[k];
    return found;
}

char *owned(const char *text) { return strdup(text ? text : ""); }

int fill_port_config(int port)
{
    port_group_gsm_port_setting *s = port_setting(port);
    if (!s) {
        LOGM(GSM, 32, "GSM => pin for port %i not found", port);
        return -1;
    }
    const experimental_options *eo = gp->experimental_options;
    gsm_config_t &c = gp->gsm_cfg[port];
    c.port = port;
    snprintf(c.pin, sizeof c.pin, "%s", s->pin ? s->pin : "");
    snprintf(c.smsc, sizeof c.smsc, "%s", s->smsc ? s->smsc : "");
    c.cbm_enable = eo ? eo->eo_gsm_cbm_enable : 0;
    c.codec = s->gsmcodec;
    c.provider_mode = s->provider_mode;
    c.provider_id = s->provider_id;
    c.access_technology = s->access_technology;
    c.sms_extension = owned(s->sms_extension);
    c.extension = owned(s->extension);
    c.sms_webhook_url = owned(s->sms_webhook);
    c.sms_webhook_user = owned(s->sms_webhook_user);
    c.sms_webhook_secret = owned(s->sms_webhook_secret);
    c.sms_webhook_type = owned(s->sms_webhook_type);
    c.sms_webhook_id = owned(s->sms_webhook_id);
    c.cbm_webhook_url = owned(s->sms_webhook);
    gsm_cfg_init(&c);
    LOGD(GSM, 5, nullptr, "GSM => pin %s for port %i found => smsc %s, codec=%i", c.pin, port, c.smsc, c.codec);
    return 0;
}

void reset_modules()
{
    pthread_t threads[HWI_SLOTS];
    int slots[HWI_SLOTS];
    bool started[HWI_SLOTS] = {};
    for (int li = 0; li < HWI_SLOTS; li++) {
        if (!resettable_module(li, false))
            continue;
        LOGD(GSM, 5, nullptr, "GSM => resetting gsm on line interface %i", li);
        slots[li] = li;
        started[li] = pthread_create(&threads[li], nullptr, gsm_helper_thread_reset_line_interface, &slots[li]) == 0;
    }
    for (int li = 0; li < HWI_SLOTS; li++)
        if (started[li])
            pthread_join(threads[li], nullptr);
    LOGD(GSM, 5, nullptr, "GSM => resetting gsm line interfaces finished");
}

void start_thread(void *(*body)(void *))
{
    pthread_t t;
    if (pthread_create(&t, nullptr, body, nullptr) == 0)
        pthread_detach(t);
    else
        LOGD(GSM, 0, nullptr, "CRITICAL: cannot start a GSM thread");
}

} // namespace

int init_gsm()
{
    if (!gp)
        return -1;
    const experimental_options *eo = gp->experimental_options;
    // 1.
    int count = gsm_port_get_count();
    for (gsm_config_t &c : gp->gsm_cfg)
        c = gsm_config_t{};
    // 2.
    start_thread(gsm_timer_function);
    start_thread(gsm_port_restart_helper);
    // 3.
    read_folders(sms_folders);
    read_folders(cbm_folders);
    std::string attempts = config_text(CFG_GSM_SMS_MAX_ATTEMPTS, 64);
    gsm_config_get_general_settings();
    // 4.
    if (pg_init_gsm_port_group_struct() == -1) {
        fprintf(stderr, "init gsm failed\n");
        return -1;
    }
    // 5.
    if (prepare_folders(sms_folders) != 0)
        return -1;
    if (eo && eo->eo_gsm_cbm_enable && prepare_folders(cbm_folders) != 0)
        return -1;
    // 6. files claimed by a sending attempt that never finished
    remove_claimed(gp->gsm_sms_spool_out, [](const std::string &) { return true; });
    // 7.
    if (!gp->gsm_global_config)
        gp->gsm_global_config = static_cast<gsm_global_config *>(calloc(1, sizeof(gsm_global_config)));
    if (!gp->gsm_global_config)
        return -1;
    free(gp->gsm_global_config->spool_failout);
    gp->gsm_global_config->max_sms_attempts = atoi(attempts.c_str());
    gp->gsm_global_config->spool_failout = strdup(gp->gsm_sms_spool_failout);
    // 8.
    std::vector<int> ports = configured_port_numbers(gp->config_gsm);
    for (int port : ports)
        if (port >= 1 && port <= GSM_MAX_PORTS && fill_port_config(port) != 0)
            return -1;
    // 9.
    reset_modules();
    // 10.
    if (gsm_init(gsm_hook.event_handler, gp->gsm_cfg, gp->gsm_global_config) == 0)
        return 1;
    // 11.
    sleep(2);
    LOGM(TARN, 16, "FPGA v%i, G.722 core %s", tarn_fpga_get_version(),
         tarn_fpga_has_g722() ? "present - LTE HD available" : "not present - LTE stays narrowband");
    // 12.
    for (int port : ports) {
        if (port > count) {
            LOGM(GSM, 32, "%s not initializing non existent gsm port %i", cinfo(nullptr), port);
            return -1;
        }
        if (port < 1 || port > GSM_MAX_PORTS)
            continue;
        gsm_port_info &pi = gp->gsm_port_info.port_infos[port];
        if (gsm_port_is_ready(port) && gsm_port_is_successfully_initialized(port)) {
            pi.ready = 1;
        } else {
            fprintf(stderr, "GSM port %i NOT READY\n", port);
            LOGM(GSM, 32, "%s GSM port %i NOT READY\n", cinfo(nullptr), port);
            pi.ready = 0;
            set_gsm_port_restart_necessary(port);
        }
    }
    // 13.
    gp->gsm_initialized = 1;
    gsm_acquire_status(1);
    return 0;
}
