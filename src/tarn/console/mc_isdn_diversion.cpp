// Console requests of call diversion at the network on an ISDN port:
// activation, deactivation, interrogation of the active forwardings and of
// the served numbers. The request goes out as a FACILITY on a scratch
// record held on the port; call control sets the port's state word when
// the network answers, and the console polls it for about one second.
#include "mc_isdn_diversion.h"

#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "global_lock.h"
#include "isdn_interrogate.h"
#include "isdn_lib.h"
#include "misdn_bchannel.h"
#include "misdn_invokeid.h"

namespace {

enum diversion_kind { CF_ACTIVATE, CF_DEACTIVATE, CF_QUERY, CF_NUMBERS };

struct kind_row {
    int sent, failed, succeeded;
};
// Values of the port's state word per request kind.
const kind_row kind_rows[] = {
    {1, 3, 4},    // activation
    {5, 7, 8},    // deactivation
    {9, 12, 11},  // interrogation of the forwardings
    {13, 16, 15}, // interrogation of the numbers
};

// The record pid of each activation request.
int bc_facpid = 1;

int state_of(int port)
{
    return __atomic_load_n(&gp->cf_facility_in_progress[port], __ATOMIC_ACQUIRE);
}

void set_state(int port, int value)
{
    __atomic_store_n(&gp->cf_facility_in_progress[port], value, __ATOMIC_RELEASE);
}

std::vector<std::string> fields_of(const char *arg)
{
    std::string s = std::string(arg ? arg : "").substr(0, 127);
    std::vector<std::string> f;
    for (size_t at = 0;;) {
        size_t c = s.find(':', at);
        std::string v = s.substr(at, c == std::string::npos ? std::string::npos : c - at);
        size_t b = v.find_first_not_of(" \t"), e = v.find_last_not_of(" \t");
        f.push_back(b == std::string::npos ? "" : v.substr(b, e - b + 1));
        if (c == std::string::npos)
            break;
        at = c + 1;
    }
    return f;
}

int ton_field(const std::vector<std::string> &f, size_t i, int dflt)
{
    return i < f.size() && !f[i].empty() ? string_to_ton(f[i].c_str()) : dflt;
}

void copy32(char (&dst)[32], const std::string &src)
{
    snprintf(dst, sizeof dst, "%s", src.c_str());
}

int request(const char *arg, FILE *out, diversion_kind kind)
{
    std::vector<std::string> f = fields_of(arg);
    int port = atoi(f[0].c_str());
    std::string served = f.size() > 1 ? f[1] : "";
    std::string target = kind == CF_ACTIVATE && f.size() > 2 ? f[2] : "";
    int ton_n = ton_field(f, kind == CF_ACTIVATE ? 3 : 2, -1);
    int ton_t = kind == CF_ACTIVATE ? ton_field(f, 4, 0) : 0;
    if (!gp || port < 1 || port > 32 || !misdn_port_has_stack(port)) {
        fprintf(out, "INVALID PORT %i\n", port);
        return 0;
    }
    if ((kind == CF_QUERY || kind == CF_NUMBERS) && state_of(port) != 0) {
        fprintf(out, "ALREADY IN PROGRESS ON PORT %i\n", port);
        return 0;
    }
    switch (kind) {
    case CF_ACTIVATE:
        fprintf(out, "Activating Diversion ServedUserNumber |%s| Ton |%i|, ForwardedToNumber |%s| Ton |%i|  => \n",
                served.c_str(), ton_n, target.c_str(), ton_t);
        break;
    case CF_DEACTIVATE:
        fprintf(out, "Deactivating Diversion ServedUserNumber |%s| Ton |%i|\n", served.c_str(), ton_n);
        break;
    case CF_QUERY:
        fprintf(out, "Interrogating Diversion: Served User Number |%s| Ton |%i|\n", served.c_str(), ton_n);
        break;
    case CF_NUMBERS:
        fprintf(out, "Interrogating Numbers: ServedUserNumber |%s| Ton |%i|\n", served.c_str(), ton_n);
        break;
    }
    fflush(out);

    misdn_bchannel *bc = (misdn_bchannel *)malloc(sizeof(misdn_bchannel));
    if (!bc)
        return 0;
    misdn_make_dummy2(bc, port, 0, misdn_port_is_nt(port), 0);
    FacParm &fac = bc->fac_out;
    switch (kind) {
    case CF_ACTIVATE:
        fac.Function = Fac_CFActivate;
        fac.u.CFActivate.invokeId = misdn_get_invokeid();
        fac.u.CFActivate.Procedure = 0;
        fac.u.CFActivate.BasicService = 0;
        fac.u.CFActivate.NoReplyTimer = 0;
        copy32(fac.u.CFActivate.ServedUserNumber, served);
        copy32(fac.u.CFActivate.ForwardedToNumber, target);
        fac.u.CFActivate.ForwardedToTon = ton_n;
        break;
    case CF_DEACTIVATE:
    case CF_QUERY: {
        fac.Function = kind == CF_DEACTIVATE ? Fac_CFDeactivate : Fac_CFInterrogateParameters;
        FacCFDeactivate &d = kind == CF_DEACTIVATE ? fac.u.CFDeactivate : fac.u.CFInterrogateParameters;
        d.invokeId = misdn_get_invokeid();
        copy32(d.ServedUserNumber, served);
        d.ServedUserTon = ton_n;
        break;
    }
    case CF_NUMBERS:
        fac.Function = Fac_CFInterrogateNumbers;
        fac.u.CFInterrogateNumbers.invokeId = misdn_get_invokeid();
        break;
    }
    const kind_row &row = kind_rows[kind];
    {
        lock_hold hold(&lock_manager::global_lock);
        if (kind == CF_ACTIVATE)
            bc->pid = bc_facpid++;
        set_state(port, row.sent);
        misdn_holder_add_by_port(port, bc);
        misdn_lib_send_event(bc, EVENT_FACILITY);
    }

    // The network's answer: ten polls of 100 ms.
    int result = 0; // 1 success, -1 failure
    for (int poll = 0; poll < 10 && !result; poll++) {
        usleep(100 * 1000);
        int s = state_of(port);
        result = s == row.succeeded ? 1 : s == row.failed ? -1 : 0;
    }
    // The answer's lines are written by the ISDN event thread under
    // global_lock: taken under it, printed after it.
    std::vector<std::string> lines;
    {
        lock_hold hold(&lock_manager::global_lock);
        if (result > 0 && (kind == CF_QUERY || kind == CF_NUMBERS)) {
            bool numbers = kind == CF_NUMBERS;
            int n = numbers ? interrogateNumbersResponseCount : interrogateDiversionResponseCount;
            for (int i = 0; i < n && i < INTERROGATE_LINES; i++)
                lines.push_back(numbers ? interrogateNumbersResponseBuf[i] : interrogateDiversionResponseBuf[i]);
        }
        set_state(port, 0);
        if (kind == CF_QUERY)
            interrogateDiversionResponseCount = 0;
        if (kind == CF_NUMBERS)
            interrogateNumbersResponseCount = 0;
        misdn_holder_remove_by_port(port, bc);
    }
    // Off the held calls the library no longer refers to the record.
    pthread_mutex_destroy(&bc->send_lock);
    free(bc);

    if (result > 0 && (kind == CF_QUERY || kind == CF_NUMBERS)) {
        for (const std::string &l : lines)
            fprintf(out, "%s\n", l.c_str());
        if (lines.empty())
            fputs(kind == CF_QUERY ? "No Call Forwarding Active\n" : "No Numbers Retrieved\n", out);
    } else if (result > 0) {
        fputs("SUCCESS\n", out);
    } else {
        fputs(result < 0 ? "FAILED\n" : "TIMEOUT\n", out);
    }
    return 0;
}

} // namespace

int string_to_ton(const char *text)
{
    static const char *const words[] = {"international", "national", "netspecific",
                                        "subscriber", "alphanumeric", "abbreviated"};
    if (!text)
        return 0;
    int n = atoi(text);
    if (n >= 1 && n <= 6)
        return n;
    for (int i = 0; i < 6; i++)
        if (strcasecmp(text, words[i]) == 0)
            return i + 1;
    return 0;
}

// Clears the record (its send lock is made anew) and sets what a facility
// outside a call needs.
static int make_dummy(misdn_bchannel *bc, int port, int l3id, int nt, int channel, int dflt)
{
    memset((void *)bc, 0, sizeof *bc);
    pthread_mutex_init(&bc->send_lock, nullptr);
    bc->l3_id = l3id ? l3id : dflt;
    bc->port = port;
    bc->nt = nt;
    bc->channel = channel;
    return dflt;
}

int misdn_make_dummy(misdn_bchannel *bc, int port, int l3id, int nt, int channel)
{
    return make_dummy(bc, port, l3id, nt, channel, (int)0xFFFF0002u);
}

int misdn_make_dummy2(misdn_bchannel *bc, int port, int l3id, int nt, int channel)
{
    return make_dummy(bc, port, l3id, nt, channel, (int)0xFFFF0001u);
}

int mc_isdn_activate_diversion(const char *arg, FILE *out, int *)
{
    return request(arg, out, CF_ACTIVATE);
}

int mc_isdn_deactivate_diversion(const char *arg, FILE *out, int *)
{
    return request(arg, out, CF_DEACTIVATE);
}

int mc_isdn_query_diversion(const char *arg, FILE *out, int *)
{
    return request(arg, out, CF_QUERY);
}

int mc_isdn_interrogate_numbers(const char *arg, FILE *out, int *)
{
    return request(arg, out, CF_NUMBERS);
}
