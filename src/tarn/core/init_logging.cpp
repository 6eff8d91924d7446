#include "init_logging.h"

#include <strings.h>
#include <sys/prctl.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "confman.h"
#include "experimental_options.h"
#include "log.h"
#include "log_backend.h"
#include "log_sip.h"
#include "platform_path.h"
#include "schema.h"
#include "status_server.h"

void set_loglevels(unsigned char *table, const char *digits)
{
    if (!digits || !*digits)
        return;
    auto digit = [](char c) { return isdigit((unsigned char)c) ? c - '0' : 0; };
    int all = digit(digits[0]);
    for (int m = 0; m < MODULECOUNT; m++)
        log_set_loglevel_debug(table, m, all);
    int len = (int)strlen(digits);
    int last = len - 1 < 9 ? len - 1 : 9;
    for (int i = 1; i <= last; i++)
        log_set_loglevel_debug(table, i - 1, digit(digits[i]));
}

static int get_tarn(int key, char *buf, size_t size)
{
    return cm_get(gp->config_tarn, buf, size, 0, key);
}

// Board paths among the defaults (/var/log/..., /tmp/) live under the root.
static std::string rooted_list(const char *names)
{
    std::string out;
    const char *p = names;
    while (*p) {
        const char *comma = strchr(p, ',');
        std::string item(p, comma ? (size_t)(comma - p) : strlen(p));
        if (!out.empty())
            out += ',';
        out += item.empty() || item[0] != '/' ? item : platform_path(item.c_str());
        if (!comma)
            break;
        p = comma + 1;
    }
    return out;
}

int init_logging()
{
    log_backend_state *lb = log_backend();
    cli_args *ca = gp->cargs;
    char buf[256];

    // 1. handlers, SIP stack log hooks, local UDP log
    log_set_log_handler_legacy(tarn_log_out_legacy);
    log_set_log_handler_message(tarn_log_out_message);
    log_set_log_handler_nmessage(tarn_log_out_nmessage);
    log_set_log_handler_debug(tarn_log_out_debug);
    log_set_log_handler_cas(tarn_log_out_cas);
    setenv("TPORT_LOG", "1", 1);
    tarn_log_sip = tarn_sofia_log_callback;
    tarn_sofia_log_redirect();
    if (get_tarn(CFG_TARN_LOCALLOGPORT, buf, sizeof buf) == 0)
        init_locallog(buf);

    // 2.
    if (ca && ca->logstdout)
        set_debugfp_to_stdout();

    // 3. size limits
    char lim[256], nlim[256];
    if (get_tarn(CFG_TARN_LOGSIZELIMIT, lim, sizeof lim) != 0 ||
        get_tarn(CFG_TARN_NLOGSIZELIMIT, nlim, sizeof nlim) != 0) {
        fprintf(stderr, "Failed getting log size limite from tarn config, check your settings!");
        return -1;
    }
    lb->logsizelimit = (ca && ca->logsizelimit >= 1) ? ca->logsizelimit : atol(lim);
    lb->nlogsizelimit = (ca && ca->nlogsizelimit >= 1) ? ca->nlogsizelimit : atol(nlim);

    // 4. syslog facility
    if (get_tarn(CFG_TARN_SYSLOG_FACILITY, buf, sizeof buf) != 0) {
        fprintf(stderr, "Failed getting syslog facility from tarn config, check your settings!\n");
        return -1;
    }
    int facility = atoi(buf);
    if (facility < 16 || facility > 23) {
        fprintf(stderr, "Ignoring invalid syslog facility %i, using 16 instead\n", facility);
        facility = 16;
    }
    lb->syslog_facility = facility;

    // 5. rotation lists
    if (ca && ca->logrotate[0]) {
        update_logrotate_list(ca->logrotate);
    } else {
        if (get_tarn(CFG_TARN_LOGROTATEFILES, buf, sizeof buf) != 0) {
            fprintf(stderr, "Failed getting log rotate list from tarn config, check your settings!");
            return -1;
        }
        update_logrotate_list(rooted_list(buf).c_str());
    }
    if (get_tarn(CFG_TARN_NLOGROTATEFILES, buf, sizeof buf) != 0) {
        fprintf(stderr, "Failed getting nlog rotate list from tarn config, check your settings!");
        return -1;
    }
    update_nlogrotate_list(rooted_list(buf).c_str());

    // 6. CDR and CAS log settings
    char logcdr[256], cdrpath[256], cdrlimit[256], caspath[256], caslimit[256];
    if (get_tarn(CFG_TARN_LOGCDR, logcdr, sizeof logcdr) != 0 ||
        get_tarn(CFG_TARN_CDRPATH, cdrpath, sizeof cdrpath) != 0 ||
        get_tarn(CFG_TARN_CDRFILESIZELIMIT, cdrlimit, sizeof cdrlimit) != 0 ||
        get_tarn(CFG_TARN_CASLOG_PATH, caspath, sizeof caspath) != 0 ||
        get_tarn(CFG_TARN_CASLOG_FILESIZELIMIT, caslimit, sizeof caslimit) != 0) {
        fprintf(stderr, "Failed reading tarn config, check your settings!");
        return -1;
    }
    gp->log_cdr = strcasecmp(logcdr, "yes") == 0 || strcasecmp(logcdr, "1") == 0;
    snprintf(gp->cdr_log_path, sizeof gp->cdr_log_path, "%s",
             platform_config_path(cdrpath).c_str());
    gp->cdr_log_filesize_limit = atoi(cdrlimit) < 1 ? 200000 : atoi(cdrlimit);
    snprintf(lb->cas_log_path, sizeof lb->cas_log_path, "%s",
             platform_config_path(caspath).c_str());
    lb->cas_log_filesize_limit = atoi(caslimit) < 1 ? 100000 : atoi(caslimit);

    // 7. CAS log
    experimental_options *eo = gp->experimental_options;
    log_cas_enabled = eo ? eo->eo_cas_initial_logging : 0;
    log_msg_cas(0, CAS_LOG_INFO, "TARN INIT\n");

    // 8. network log (the CDR log starts with its own code)
    prctl(PR_SET_NAME, "tarn.pthread", 0, 0, 0);
    prctl(PR_SET_NAME, "tarn", 0, 0, 0);
    init_netlog(get_tarn(CFG_TARN_LOGSERVER, buf, sizeof buf) == 0 ? buf : nullptr);

    // 9. debug levels
    char levels[256] = "";
    if (ca && ca->loglevel[0]) {
        snprintf(levels, sizeof levels, "%s", ca->loglevel);
    } else if (eo && eo->eo_loglevel_override[0]) {
        snprintf(levels, sizeof levels, "%s", eo->eo_loglevel_override);
    } else {
        if (get_tarn(CFG_TARN_LOGGING_DEBUG, buf, sizeof buf) == 0)
            log_levels_debug_enabled = atoi(buf);
        if (get_tarn(CFG_TARN_LOGGING_MESSAGE, buf, sizeof buf) == 0)
            log_levels_message_enabled = atoi(buf);
        if (get_tarn(CFG_TARN_LOGGING_NMESSAGE, buf, sizeof buf) == 0)
            log_levels_nmessage_enabled = atoi(buf);
        get_tarn(CFG_TARN_LOGLEVEL_DEBUG, levels, sizeof levels);
    }
    set_loglevels(log_levels_debug, levels);

    // 10. message levels
    char mlevels[256] = "";
    if (ca && ca->loglevel2[0])
        snprintf(mlevels, sizeof mlevels, "%s", ca->loglevel2);
    else
        get_tarn(CFG_TARN_LOGLEVEL_MESSAGE, mlevels, sizeof mlevels);
    set_loglevels(log_levels_message, mlevels);
    return 0;
}
