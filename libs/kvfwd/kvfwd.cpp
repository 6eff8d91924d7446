#include "kvfwd.h"

#include <libiptc/libiptc.h>
#include <xtables.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kvfwd_rule.h"

char *newargv[KVFWD_ARGV_SIZE];
int newargc;
const char *program_name = "iptables";
const char *program_version = "1.2.11";

namespace {

// The match and target kinds (what iptables calls its extensions: "udp",
// "tcp", the standard verdicts and chain jumps, "MASQUERADE", "DNAT", "SNAT") are
// part of the parser; registering them readies the parser once.
bool extensions_registered;

xtables_globals kvfwd_globals;

} // namespace

int kvfwd_init(const char *name, const char *version)
{
    if (extensions_registered)
        return 0;
    program_name = name;
    program_version = version;
    kvfwd_globals.program_name = name;
    kvfwd_globals.program_version = version;
    // libxtables keeps the names for its own messages; no extension is
    // loaded from disk.
    xtables_init_all(&kvfwd_globals, NFPROTO_IPV4);
    extensions_registered = true;
    return 0;
}

int kvfwd_add_argv(const char *what)
{
    if (!what || newargc >= KVFWD_MAX_ARGS)
        return 0;
    char *copy = strdup(what);
    if (!copy)
        return 0;
    newargv[newargc++] = copy;
    newargv[newargc] = nullptr;
    return 1;
}

void kvfwd_free_argv()
{
    for (int i = 0; i < newargc; i++) {
        free(newargv[i]);
        newargv[i] = nullptr;
    }
    newargc = 0;
}

int kvfwd_do_command(const char *table, char *command)
{
    if (!extensions_registered)
        kvfwd_init(program_name, program_version);
    xtc_handle *h = iptc_init(table);
    if (!h) {
        fprintf(stderr, "iptables: %s\n", iptc_strerror(errno));
        return 0;
    }

    char err[256] = "";
    int result = 1;
    kvfwd_free_argv();
    kvfwd_add_argv(program_name);
    char *save = nullptr;
    for (char *w = strtok_r(command, " ", &save); w; w = strtok_r(nullptr, " ", &save)) {
        // A rule cut at the vector's end would be another rule: refuse it.
        if (!kvfwd_add_argv(w)) {
            snprintf(err, sizeof err, "too many arguments (at most %i words)", KVFWD_MAX_ARGS - 1);
            result = 0;
            break;
        }
    }

    kvfwd_rule rule;
    if (result && kvfwd_parse(newargc, newargv, table, &rule, err, sizeof err) != 0)
        result = 0;
    if (result)
        result = kvfwd_apply(&rule, h, err, sizeof err);
    if (result && !iptc_commit(h)) {
        snprintf(err, sizeof err, "%s", iptc_strerror(errno));
        result = 0;
    }
    if (!result)
        fprintf(stderr, "iptables: %s\n", err);
    kvfwd_free_argv();
    iptc_free(h);
    return result;
}
