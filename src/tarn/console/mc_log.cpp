// Console commands that show and change the logging at run time: module
// levels, the switches of the three log kinds, the local UDP log, the
// network log target and the SIP stack's module logs.
#include "mc_log.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console.h"
#include "console_hooks.h"
#include "log.h"
#include "log_backend.h"
#include "sofia_logs.h"

void list_loglevels(FILE *out)
{
    fprintf(out, "Debug Logging: %s\n", log_levels_debug_enabled ? "enabled" : "disabled");
    fprintf(out, "Message Logging: %s\n", log_levels_message_enabled ? "enabled" : "disabled");
    fprintf(out, "Nmessage Logging: %s\n", log_levels_nmessage_enabled ? "enabled" : "disabled");
    fputs("Listing Loglevels Debug:\n", out);
    for (int m = 0; m < MODULECOUNT; m++)
        fprintf(out, "%s - %i\n", log_module_names[m], log_levels_debug ? log_levels_debug[m] : 0);
    fputs("\nListing Loglevels Message:\n", out);
    for (int m = 0; m < MODULECOUNT; m++)
        fprintf(out, "%s - %i\n", log_module_names[m], log_levels_message ? log_levels_message[m] : 0);
    fputs("\n", out);
}

static std::string trimmed(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1).substr(0, 63);
}

void parse_and_update_netlog_target(FILE *out, const char *text)
{
    std::string t = text ? text : "";
    size_t c = t.find(':');
    if (c == std::string::npos || t.find(':', c + 1) != std::string::npos) {
        fprintf(out, "%s input seems not to be a valid input - making no change\n", t.c_str());
        fputs("\r\n", out);
        return;
    }
    update_netlog_target(trimmed(t.substr(0, c)).c_str(), trimmed(t.substr(c + 1)).c_str());
}

// A follow-up question answered at once with the argument.
static int answer_now(const char *arg, FILE *out, int question)
{
    int st = question;
    mc_handle_extrainfo(arg, out, &st);
    return 0;
}

static int ask_level(const char *arg, FILE *out, int question, const char *kind)
{
    if (arg && *arg)
        return answer_now(arg, out, question);
    mc_hooks().list_loglevels(out);
    fprintf(out, "Set loglevel %s[0-9] (0=low,9=high)\nEnter x to cancel\n", kind);
    return question;
}

int mc_log_set_level_debug(const char *arg, FILE *out, int *)
{
    return ask_level(arg, out, 3, "debug");
}

int mc_log_set_level_message(const char *arg, FILE *out, int *)
{
    return ask_level(arg, out, 4, "message");
}

int mc_log_show_verbosity(const char *, FILE *out, int *)
{
    mc_hooks().list_loglevels(out);
    return 0;
}

static int switch_kind(int32_t *flag, const char *arg, FILE *out)
{
    *flag = atoi(arg ? arg : "");
    mc_hooks().list_loglevels(out);
    return 0;
}

int mc_log_debug_activate(const char *arg, FILE *out, int *)
{
    return switch_kind(&log_levels_debug_enabled, arg, out);
}

int mc_log_message_activate(const char *arg, FILE *out, int *)
{
    return switch_kind(&log_levels_message_enabled, arg, out);
}

int mc_log_nmessage_activate(const char *arg, FILE *out, int *)
{
    return switch_kind(&log_levels_nmessage_enabled, arg, out);
}

int mc_log_local_file_logging(const char *arg, FILE *out, int *)
{
    log_backend_state *b = log_backend();
    char c = arg ? arg[0] : '\0';
    if (c == '0' || c == 'd')
        b->local_log_active = 0;
    else if (c == '1' || c == 'a')
        b->local_log_active = 1;
    fprintf(out, "Local Log is %s\n", b->local_log_active ? "active" : "inactive");
    return 0;
}

int mc_log_set_netlog(const char *arg, FILE *out, int *)
{
    if (arg && *arg) {
        mc_hooks().parse_and_update_netlog_target(out, arg);
        return 0;
    }
    log_backend_state *b = log_backend();
    if (b->logip[0] && b->logport[0])
        fprintf(out, "Current log target is %s:%s (fd %i)\n", b->logip, b->logport, b->netlogfd.load());
    else
        fputs("Currently no log target defined\n", out);
    fputs("Change netlog target, please enter new target in the form ip:port\n", out);
    return 5;
}

int mc_log_set_sofia_log_level(const char *arg, FILE *out, int *)
{
    static const struct {
        const char *word;
        su_log_t *log;
    } logs[] = {
        {"tport", tport_log},           {"iptsec", iptsec_log},         {"nta", nta_log},
        {"stun", stun_log},             {"nth_client", nth_client_log}, {"nth_server", nth_server_log},
        {"sresolv", sresolv_log},       {"nua", nua_log},               {"soa", soa_log},
        {"nea", nea_log},               {"default", su_log_default},
    };
    const char *a = arg ? arg : "";
    if (strncmp(a, "all", 3) == 0) {
        unsigned level = (unsigned)atoi(a + 3);
        for (const auto &l : logs)
            su_log_set_level(l.log, level);
        return 0;
    }
    for (const auto &l : logs) {
        size_t n = strlen(l.word);
        if (strncmp(a, l.word, n) == 0) {
            su_log_set_level(l.log, (unsigned)atoi(a + n));
            return 0;
        }
    }
    fprintf(out, "No log module %s\n", a);
    return 0;
}
