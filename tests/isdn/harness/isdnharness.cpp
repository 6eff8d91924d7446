// isdnharness: a test stand-in for call control on top of the ISDN library.
// It starts the library on the ports that TARN_MISDN_SIM describes, prints
// every event it gets, answers calls as told and reads simple commands, one
// per line, from standard input. A test tool, not part of the daemon.
//
//   isdnharness --port N[:ptp|ptmp[:crlen[:cidlen]]]... [--groups TEXT]
//               [--group NAME:METHOD:DIRECTION:PULLUP]... [--behaviour PORT:B]...
//               [--linkloss PORT:OPTION]... [--t1 PORT]... [--loglevel N]
//               [--queue-limit N] [--housekeeping MS]
//
// Commands:
//   call PORT|g:GROUP DAD [OAD]       SETUP on a new call: "CALL pid=.. port=.. channel=.."
//   proceeding|alert|answer|setup_ack|hold|hold_ack|retrieve|retrieve_ack PID
//   disconnect|release|release_complete PID [CAUSE]
//   info PID DIGITS                   INFORMATION with called-number digits
//   restart PORT                      port restart
//   l1 PORT up|down                   pull or plug the line (device hook)
//   status [PORT]                     the console's port lines
//   channels                          the channel book
//   slots                             the slots in use
//   bc GROUP [MASK]                   take a B-channel of a port group: "BC port=.. channel=.. pid=.."
//   free PID                          give a taken B-channel back
//   autoanswer off|proceeding|alert|answer [DISCONNECT-CAUSE]
//   setup_response ok|ignore|release|ignore_without_close|err
//   echo TEXT | sleep MS | quit
// Output lines: "READY", "EVENT <name> port=.. pid=.. l3id=.. channel=..
// cause=.. in_use=.. oad=.. dad=..", "LOG <level> p<port> <pid>: <text>",
// the SNMP lines, and the answers of the commands.
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "global_lock.h"
#include "isdn_lib.h"
#include "isdn_msg.h"
#include "isdn_pid.h"
#include "log_backend.h"
#include "misdn_sim.h"

namespace {

std::mutex out_lock;
int log_level = 2;
std::string autoanswer = "off";
int autodisconnect_cause = 0;
event_response_e setup_response = RESPONSE_OK;

void out(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
void out(const char *fmt, ...)
{
    char line[4096];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    std::lock_guard<std::mutex> g(out_lock);
    fputs(line, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void harness_log(int level, int port, int pid, const char *, int, const char *, const char *format, ...)
{
    if (level > log_level)
        return;
    char text[4096];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    size_t n = strlen(text);
    while (n && (text[n - 1] == '\n' || text[n - 1] == ' '))
        text[--n] = 0;
    out("LOG %d p%d %d: %s", level, port, pid, text);
}

const char *event_name(event_e e)
{
    const char *n = isdn_get_info(msgs_g, e, 0);
    return n ? n : "UNKNOWN";
}

void print_event(event_e event, misdn_bchannel *bc)
{
    out("EVENT %s port=%d pid=%d l3id=%x channel=%d cause=%d in_use=%d oad=%s dad=%s", event_name(event), bc->port,
        bc->pid, bc->l3_id, bc->channel, bc->cause, bc->in_use, bc->oad, bc->dad);
}

int send(misdn_bchannel *bc, event_e e)
{
    int r = misdn_lib_send_event(bc, e);
    if (r < 0)
        out("SEND %s pid=%d refused", event_name(e), bc->pid);
    return r;
}

event_response_e on_event(event_e event, misdn_bchannel *bc, void *)
{
    if (!bc)
        return RESPONSE_OK;
    if (event == EVENT_BCHAN_DATA || event == EVENT_TONE_GENERATE)
        return RESPONSE_OK;
    if (event == EVENT_NEW_CHANNEL && log_level < 3)
        return RESPONSE_OK;
    print_event(event, bc);
    switch (event) {
    case EVENT_SETUP:
        if (setup_response != RESPONSE_OK)
            return setup_response;
        if (autoanswer != "off") {
            send(bc, EVENT_PROCEEDING);
            if (autoanswer == "alert" || autoanswer == "answer")
                send(bc, EVENT_ALERTING);
            if (autoanswer == "answer")
                send(bc, EVENT_CONNECT);
        }
        return RESPONSE_OK;
    case EVENT_CONNECT_ACKNOWLEDGE:
    case EVENT_CONNECT:
        if (autodisconnect_cause > 0) {
            bc->out_cause = autodisconnect_cause;
            send(bc, EVENT_DISCONNECT);
        }
        return RESPONSE_OK;
    case EVENT_DISCONNECT:
        bc->out_cause = 16;
        send(bc, EVENT_RELEASE);
        return RESPONSE_OK;
    case EVENT_RELEASE:
        send(bc, EVENT_RELEASE_COMPLETE);
        return RESPONSE_OK;
    default:
        return RESPONSE_OK;
    }
}

int no_audio(misdn_bchannel *, char *, int) { return 0; }

misdn_bchannel *find_pid(int pid)
{
    if (pid <= 0)
        return nullptr;
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next) {
        for (int i = 0; i <= s->b_num && i < MISDN_SLOTS; i++)
            if (s->bc[i].in_use && s->bc[i].pid == pid)
                return &s->bc[i];
        for (misdn_bchannel *h = s->holding; h; h = h->next)
            if (h->pid == pid)
                return h;
    }
    return nullptr;
}

struct options {
    isdn_init_info iii{};
    std::string groups;
    std::vector<std::string> group_settings;
    std::vector<std::pair<int, int>> linkloss;
    std::vector<int> t1;
    int queue_limit = 0;
    int housekeeping_ms = 0;
};

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> v;
    std::stringstream ss(s);
    std::string item;
    while (std::getline(ss, item, sep))
        v.push_back(item);
    return v;
}

[[noreturn]] void usage()
{
    fprintf(stderr, "usage: isdnharness --port N[:ptp|ptmp[:crlen[:cidlen]]]... [--groups TEXT] "
                    "[--group NAME:METHOD:DIR:PULLUP]... [--behaviour PORT:B]... [--linkloss PORT:OPT]... "
                    "[--t1 PORT]... [--loglevel N] [--queue-limit N] [--housekeeping MS]\n");
    exit(1);
}

options parse_args(int argc, char **argv)
{
    options o;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (i + 1 >= argc)
            usage();
        std::string v = argv[++i];
        if (a == "--port") {
            auto f = split(v, ':');
            int k = o.iii.port_count;
            if (f.empty() || k >= MISDN_MAX_PORTS)
                usage();
            o.iii.ports[k] = atoi(f[0].c_str());
            o.iii.ptp[k] = f.size() > 1 ? f[1] == "ptp" : 1;
            o.iii.crlen[k] = f.size() > 2 ? atoi(f[2].c_str()) : 1;
            o.iii.cidlen[k] = f.size() > 3 ? atoi(f[3].c_str()) : 1;
            o.iii.port_count++;
        } else if (a == "--groups") {
            o.groups = v;
        } else if (a == "--group") {
            o.group_settings.push_back(v);
        } else if (a == "--behaviour") {
            auto f = split(v, ':');
            int port = f.size() == 2 ? atoi(f[0].c_str()) : -1;
            if (port < 0 || port >= MISDN_MAX_PORTS)
                usage();
            misdn_lib_chansel_behaviour[port] = atoi(f[1].c_str());
        } else if (a == "--linkloss") {
            auto f = split(v, ':');
            if (f.size() != 2)
                usage();
            o.linkloss.emplace_back(atoi(f[0].c_str()), atoi(f[1].c_str()));
        } else if (a == "--t1") {
            o.t1.push_back(atoi(v.c_str()));
        } else if (a == "--loglevel") {
            log_level = atoi(v.c_str());
        } else if (a == "--queue-limit") {
            o.queue_limit = atoi(v.c_str());
        } else if (a == "--housekeeping") {
            o.housekeeping_ms = atoi(v.c_str());
        } else {
            usage();
        }
    }
    return o;
}

// The housekeeping duties of the core: restart marked ports, bring the
// layer 2 of TE point-to-point ports back up.
void housekeeping(int ms)
{
    for (;;) {
        usleep((useconds_t)ms * 1000);
        if (isdnlib_options.isdnlib_ports_need_restart == 1) {
            isdnlib_options.isdnlib_ports_need_restart = 0;
            for (int port = 1; port < ISDNLIB_RESTART_PORTS; port++)
                if (isdnlib_options.isdnlib_restart_ports[port]) {
                    out("restarting isdn port %i", port);
                    misdn_lib_port_restart(port);
                    isdnlib_options.isdnlib_restart_ports[port] = 0;
                }
        } else if (isdnlib_options.isdnlib_ports_need_restart > 1) {
            isdnlib_options.isdnlib_ports_need_restart--;
        }
        for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
            if (misdn_lib_is_te_ptp_l2_down(s->port))
                misdn_lib_get_port_up(s->port);
    }
}

const struct {
    const char *word;
    event_e event;
} plain_commands[] = {
    {"proceeding", EVENT_PROCEEDING},     {"alert", EVENT_ALERTING},
    {"answer", EVENT_CONNECT},            {"setup_ack", EVENT_SETUP_ACKNOWLEDGE},
    {"hold", EVENT_HOLD},                 {"hold_ack", EVENT_HOLD_ACKNOWLEDGE},
    {"retrieve", EVENT_RETRIEVE},         {"retrieve_ack", EVENT_RETRIEVE_ACKNOWLEDGE},
    {"disconnect", EVENT_DISCONNECT},     {"release", EVENT_RELEASE},
    {"release_complete", EVENT_RELEASE_COMPLETE},
};

void command_call(const std::vector<std::string> &w)
{
    if (w.size() < 3) {
        out("ERROR call PORT|g:GROUP DAD [OAD]");
        return;
    }
    misdn_bchannel *bc;
    if (w[1].compare(0, 2, "g:") == 0) {
        int down = 0;
        bc = misdn_lib_get_free_bc_by_port_group(w[1].c_str() + 2, &down, 0, nullptr, nullptr);
        if (bc)
            bc->pid = get_new_global_pid();
    } else {
        bc = misdn_lib_get_free_bc(atoi(w[1].c_str()), 0, 1, 0, 1);
    }
    if (!bc) {
        out("CALL FAILED");
        return;
    }
    snprintf(bc->dad, sizeof bc->dad, "%s", w[2].c_str());
    snprintf(bc->oad, sizeof bc->oad, "%s", w.size() > 3 ? w[3].c_str() : "");
    bc->capability = 0;
    bc->law = 3;
    bc->sending_complete = 1;
    if (send(bc, EVENT_SETUP) < 0) {
        misdn_lib_release(bc);
        out("CALL FAILED");
        return;
    }
    out("CALL pid=%d port=%d channel=%d l3id=%x", bc->pid, bc->port, bc->channel, bc->l3_id);
}

void status(int only)
{
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next) {
        if (only && s->port != only)
            continue;
        char line[256];
        get_show_stack_details(s->port, line, sizeof line);
        out("%s", line);
        get_show_stack_details_compact(s->port, line, sizeof line);
        out("%s", line);
    }
}

void run_command(const std::string &line)
{
    std::vector<std::string> w;
    std::istringstream in(line);
    for (std::string t; in >> t;)
        w.push_back(t);
    if (w.empty())
        return;
    const std::string &c = w[0];
    for (const auto &pc : plain_commands) {
        if (c != pc.word)
            continue;
        misdn_bchannel *bc = w.size() > 1 ? find_pid(atoi(w[1].c_str())) : nullptr;
        if (!bc) {
            out("ERROR no call %s", w.size() > 1 ? w[1].c_str() : "");
            return;
        }
        if (w.size() > 2)
            bc->out_cause = atoi(w[2].c_str());
        int r = send(bc, pc.event);
        out("SENT %s pid=%d result=%d", c.c_str(), bc->pid, r);
        return;
    }
    if (c == "call") {
        command_call(w);
    } else if (c == "info" && w.size() > 2) {
        misdn_bchannel *bc = find_pid(atoi(w[1].c_str()));
        if (!bc) {
            out("ERROR no call %s", w[1].c_str());
            return;
        }
        snprintf(bc->info_dad, sizeof bc->info_dad, "%s", w[2].c_str());
        snprintf(bc->dad, sizeof bc->dad, "%s", w[2].c_str());
        out("SENT info pid=%d result=%d", bc->pid, send(bc, EVENT_INFORMATION));
    } else if (c == "restart" && w.size() > 1) {
        out("RESTART result=%d", misdn_lib_port_restart(atoi(w[1].c_str())));
    } else if (c == "l1" && w.size() > 2) {
        out("L1 result=%d", misdn_sim_set_l1(atoi(w[1].c_str()), w[2] == "up"));
    } else if (c == "status") {
        status(w.size() > 1 ? atoi(w[1].c_str()) : 0);
    } else if (c == "channels") {
        std::lock_guard<std::mutex> g(out_lock);
        misdn_channel_spender_list_ports(stdout);
        fflush(stdout);
    } else if (c == "slots") {
        for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
            for (int i = 0; i <= s->b_num && i < MISDN_SLOTS; i++)
                if (s->bc[i].in_use)
                    out("SLOT port=%d idx=%d pid=%d channel=%d l3id=%x", s->port, i, s->bc[i].pid,
                        s->bc[i].channel, s->bc[i].l3_id);
        out("SLOTS END");
    } else if (c == "bc" && w.size() > 1) {
        int down = 0;
        unsigned mask = w.size() > 2 ? (unsigned)strtoul(w[2].c_str(), nullptr, 0) : 0;
        misdn_bchannel *bc = misdn_lib_get_free_bc_by_port_group(w[1].c_str(), &down, mask, nullptr, nullptr);
        if (!bc) {
            out("BC NONE down=%d", down);
            return;
        }
        bc->pid = get_new_global_pid();
        out("BC port=%d channel=%d pid=%d", bc->port, bc->channel, bc->pid);
    } else if (c == "free" && w.size() > 1) {
        misdn_bchannel *bc = find_pid(atoi(w[1].c_str()));
        if (bc)
            misdn_clear_unassociated_bc(bc);
        out("FREE %s", bc ? "ok" : "none");
    } else if (c == "autoanswer" && w.size() > 1) {
        autoanswer = w[1];
        autodisconnect_cause = w.size() > 2 ? atoi(w[2].c_str()) : 0;
        out("OK");
    } else if (c == "setup_response" && w.size() > 1) {
        const std::string &r = w[1];
        setup_response = r == "ignore"                 ? RESPONSE_IGNORE_SETUP
                         : r == "release"              ? RESPONSE_RELEASE_SETUP
                         : r == "ignore_without_close" ? RESPONSE_IGNORE_SETUP_WITHOUT_CLOSE
                         : r == "err"                  ? RESPONSE_ERR
                                                       : RESPONSE_OK;
        out("OK");
    } else if (c == "echo") {
        out("%s", line.size() > 5 ? line.c_str() + 5 : "");
    } else if (c == "sleep" && w.size() > 1) {
        usleep((useconds_t)atoi(w[1].c_str()) * 1000);
    } else if (c == "quit") {
        fflush(stdout);
        _exit(0);
    } else {
        out("ERROR unknown command: %s", line.c_str());
    }
}

}  // namespace

int main(int argc, char **argv)
{
    options o = parse_args(argc, argv);
    log_backend()->snmp_notify_fp = stdout;
    misdn_lib_iface iface{on_event, harness_log, no_audio};
    if (o.queue_limit)
        misdn_set_check_queues_length(o.queue_limit);
    int r = misdn_lib_init(&o.iii, &iface, nullptr);
    if (r != 0) {
        out("INIT FAILED %d", r);
        return 2;
    }
    misdn_lib_init_port_groups(o.groups.c_str());
    for (int port : o.t1)
        misdn_set_t1(port, 1);
    for (const auto &g : o.group_settings) {
        auto f = split(g, ':');
        if (f.size() != 4)
            usage();
        misdn_lib_set_channel_selection(f[0].c_str(), atoi(f[1].c_str()), f[2] == "desc" ? 1 : 0);
        misdn_lib_set_port_pullup(f[0].c_str(), atoi(f[3].c_str()));
    }
    for (const auto &ll : o.linkloss)
        misdn_set_restart_after_linkloss(ll.first, ll.second);
    if (o.housekeeping_ms > 0)
        std::thread(housekeeping, o.housekeeping_ms).detach();
    out("READY");
    pthread_mutex_t *global = g_lock_manager->global_lock;
    char buf[1024];
    while (fgets(buf, sizeof buf, stdin)) {
        buf[strcspn(buf, "\r\n")] = 0;
        pthread_mutex_lock(global);
        run_command(buf);
        pthread_mutex_unlock(global);
    }
    fflush(stdout);
    _exit(0);  // the library's threads run on: no clean-up of globals under their feet
}
