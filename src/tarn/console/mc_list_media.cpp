// Console listings of calls, media processor channels, RTP ports, tone
// histories, uptime and load.
#include <arpa/inet.h>
#include <sys/time.h>

#include <cstring>

#include "application.h"
#include "call_statistics.h"
#include "global_lock.h"
#include "mc_listings.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "platform_path.h"
#include "sip_stack.h"
#include "transcoding_pool.h"

int mc_tarn_list_connected_call_duration(const char *, FILE *out, int *)
{
    if (gp)
        print_connected_call_duration(out, &gp->cds);
    return 0;
}

int mc_tarn_list_channel_usage_by_call_index(const char *arg, FILE *out, int *)
{
    int index = mc_arg_int(arg);
    call_object *co = mc_call_at(index);
    if (!co) {
        fprintf(out, "Invalid value %i, ignoring request\n", index);
        return 0;
    }
    msp_print_flags(out, co->msp_state);
    fprintf(out, "Showing MSP resources active for call object at index %i\n", index);
    msp_print_used_resources(out, co->msp_resources_active);
    fprintf(out, "Showing MSP resources reserved for call object at index %i\n", index);
    msp_print_used_resources(out, co->msp_resources_reserved);
    fprintf(out, "Showing MSP resources remote_bridging for call object at index %i\n", index);
    msp_print_used_resources(out, co->msp_resources_remote_bridging);
    fprintf(out, "Total TARN MSP-channel usage: %i of %i channels\n", msp_get_channel_usage(),
            msp_get_total_channels());
    return 0;
}

int mc_tarn_show_channel_usage(const char *, FILE *out, int *)
{
    int use = msp_get_channel_usage(), total = msp_get_total_channels();
    fprintf(out, "cu free %i / use %i / total %i\n", total - use, use, total);
    for (int i = 0; gp && i < OPERATIONARRAYSIZE; i++) {
        const call_object *co = mc_call_at(i);
        if (co)
            fprintf(out, "idx %3i pid: %10i act: %i reserved: %i\n", i, co->pid,
                    msp_get_resource_usage(co->msp_resources_active),
                    msp_get_resource_usage(co->msp_resources_reserved));
    }
    msp_list_timeslot_manager_fprintf(out);
    return 0;
}

int mc_transcoding_list_timeslots(const char *, FILE *out, int *)
{
    transcoding_list_timeslots_fprintf(out);
    return 0;
}

int mc_tarn_list_pcm_table(const char *, FILE *out, int *)
{
    if (!gp)
        return 0;
    bool server = gp->run_pcm_server, client = gp->run_pcm_client;
    if (!server && !client) {
        fputs("no pcm card bridging enabled\n", out);
        return 0;
    }
    fputs(server ? "Timeslot\tIP\tPort\tFD\n" : "Timeslot\tIP\tPort\n", out);
    lock_hold hold(&lock_manager::pcm_table_lock);
    const pcm_bridging_timeslot_table &t = gp->pcm_table;
    fprintf(out, "SIZE %i\n", t.size);
    // The table holds PCM_TABLE_ROWS entries whatever its size says.
    int rows = t.size < 0 ? 0 : t.size > PCM_TABLE_ROWS ? PCM_TABLE_ROWS : t.size;
    for (int i = 0; i < rows; i++) {
        char ip[INET_ADDRSTRLEN];
        struct in_addr a = {(in_addr_t)t.ip[i]};
        inet_ntop(AF_INET, &a, ip, sizeof ip);
        if (server && t.ip[i] != 0)
            fprintf(out, "%i\t%s\t%i\t%i\n", i, ip, t.port[i], t.fd[i]);
        else if (!server)
            fprintf(out, "%i\t%s\t%i\n", i, ip, t.port[i]);
    }
    return 0;
}

int print_stacks(int stacks, char *buffer, int size)
{
    static const struct {
        int bit;
        const char *name;
    } order[] = {{STACK_LAN, "LAN"}, {STACK_WAN, "WAN"}, {STACK_LOCALHOST, "LOCALHOST"}, {STACK_VPN, "VPN"}};
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = '\0';
    int len = 0;
    for (const auto &s : order) {
        if (!(stacks & s.bit))
            continue;
        int n = snprintf(buffer + len, (size_t)(size - len), "%s%s", len ? "|" : "", s.name);
        if (n < 0 || n >= size - len) {
            len = size - 1; // cut at the buffer's end
            break;
        }
        len += n;
    }
    return len;
}

static bool inside(int port, int start, int stop)
{
    return port >= start && port <= stop;
}

int mc_tarn_list_rtp(const char *, FILE *out, int *)
{
    if (!gp || !gp->rtp_ports)
        return 0;
    const RTP_ports &r = *gp->rtp_ports;
    fputs("Listing RTP Ranges\n", out);
    fprintf(out, "LAN      : rtp_start %i, rtp_stop %i\n", r.lanstart, r.lanstop);
    fprintf(out, "LAN      : passthrough_start %i, passthrough_stop %i\n", r.lan_t38start, r.lan_t38stop);
    fprintf(out, "WAN      : rtp start %i rtp stop %i\n", r.wanstart, r.wanstop);
    fprintf(out, "WAN      : passthrough_start %i, passthrough_stop %i\n", r.wan_t38start, r.wan_t38stop);
    fprintf(out, "LOOPBACK : rtp_start %i, rtp_stop %i\n", r.lostart, r.lostop);
    fprintf(out, "LOOPBACK : passthrough_start %i, passthrough_stop %i\n", r.lo_t38start, r.lo_t38stop);
    fprintf(out, "VPN      : rtp_start %i rtp_stop %i\n", r.vpnstart, r.vpnstop);
    fprintf(out, "VPN      : passthrough_start %i passthrough_stop %i\n", r.vpn_t38start, r.vpn_t38stop);
    fputs("----------------------------\n", out);
    fputs("Listing configured RTP Ports\n", out);
    if (!r.rtp_ports || !r.rtp_stacks)
        return 0;
    for (int p = 0; p <= 65534; p++) {
        if (!r.rtp_stacks[p])
            continue;
        char names[32];
        print_stacks(r.rtp_stacks[p], names, sizeof names);
        int passthrough = inside(p, r.lan_t38start, r.lan_t38stop) || inside(p, r.wan_t38start, r.wan_t38stop) ||
                          inside(p, r.vpn_t38start, r.vpn_t38stop);
        fprintf(out, "port %i: free %i | stacks %s | passthrough %i\n", p, r.rtp_ports[p], names, passthrough);
    }
    return 0;
}

long timevaldiff(const struct timeval *a, const struct timeval *b)
{
    return (long)(b->tv_sec - a->tv_sec) * 1000 + (long)(b->tv_usec - a->tv_usec) / 1000;
}

// The ring's events oldest first; the duration of each runs to the time
// stamp in the slot after it (detected tones: received; sent tones: started).
static void stamp(const msp_tonedet_event &e, struct timeval *tv)
{
    tv->tv_sec = (time_t)e.received_time.sec;
    tv->tv_usec = (suseconds_t)e.received_time.usec;
}
static void stamp(const msp_tonegen_event &e, struct timeval *tv)
{
    tv->tv_sec = (time_t)e.start_time.sec;
    tv->tv_usec = (suseconds_t)e.start_time.usec;
}

template <typename Ring> static void list_tone_history(FILE *out, const Ring &h, const char *verb, int port)
{
    int recorded = h.history_index;
    int n = recorded < MSP_TONE_HISTORY ? recorded : MSP_TONE_HISTORY;
    for (int k = recorded - n; k < recorded; k++) {
        const auto &e = h.history[(unsigned)k % MSP_TONE_HISTORY];
        if (e.event == 255)
            continue;
        struct timeval a, b;
        stamp(e, &a);
        stamp(h.history[(unsigned)(k + 1) % MSP_TONE_HISTORY], &b);
        fprintf(out, "%s PORT %i: %3ld:%06ld %x (duration %i)\n", verb, port, (long)a.tv_sec, (long)a.tv_usec,
                e.event, (int)timevaldiff(&a, &b));
    }
}

int mc_tarn_list_tonehistory(const char *arg, FILE *out, int *)
{
    call_object *co = mc_call_at(mc_arg_int(arg));
    if (!co || co->callinfo == CI_FREE)
        return 0;
    if (co->msp_tonedet_history) {
        fputs("LISTING TONEDET HISTORY\n", out);
        list_tone_history(out, *co->msp_tonedet_history, "READ", co->cas_port);
    }
    if (co->msp_tonegen_history) {
        fputs("LISTING TONEGEN HISTORY\n", out);
        list_tone_history(out, *co->msp_tonegen_history, "SENT", co->cas_port);
    }
    return 0;
}

int mc_tarn_list_uptime(const char *, FILE *out, int *)
{
    long up = gp ? get_proc_uptime_seconds() - gp->tarn_start_time : 0;
    if (up < 1) {
        fputs("TARN uptime: INVALID TIMESTAMP\n", out);
        return 0;
    }
    char text[64];
    format_time(text, sizeof text, up > 0x7fffffff ? 0x7fffffff : (int)up);
    fprintf(out, "TARN uptime: %s\n", text);
    return 0;
}

int mc_tarn_get_system_load(const char *, FILE *out, int *)
{
    FILE *f = fopen(platform_path("/proc/loadavg").c_str(), "re");
    if (!f)
        return 0;
    char text[32];
    size_t n = fread(text, 1, sizeof text - 1, f);
    fclose(f);
    fwrite(text, 1, n, out);
    return 0;
}

int mc_tarn_get_tarn_mem_usage(const char *, FILE *out, int *)
{
    fputs("UNKNOWN\n", out);
    return 0;
}

void mc_list_delays(FILE *out, int count)
{
    if (!gp || !out)
        return;
    if (count < 1 || count > 1023)
        count = 1024;
    int recorded = gp->tt_index;
    if (recorded <= 0)
        return;
    int printed = 0;
    for (int i = (recorded - 1) % TRACE_RING_SIZE; i >= 0 && printed < count && printed < recorded; i--) {
        const timeval &cr = gp->tt_connect_recv[i], &ca = gp->tt_connect_ack[i];
        const timeval &vs = gp->tt_vopena_send[i], &va = gp->tt_vopena_ack[i];
        fprintf(out, "pid %i tti %i: %i:%i %i:%i %i:%i %i:%i msec %i : %.*s\n", gp->tt_pid[i], gp->tt_indices[i],
                (int)cr.tv_sec, (int)cr.tv_usec, (int)ca.tv_sec, (int)ca.tv_usec, (int)vs.tv_sec, (int)vs.tv_usec,
                (int)va.tv_sec, (int)va.tv_usec, (int)timevaldiff(&cr, &va), (int)sizeof gp->tt_ihist[i],
                gp->tt_ihist[i]);
        printed++;
    }
}
