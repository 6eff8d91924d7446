#include "channel_spender.h"

#include <cstdlib>
#include <cstring>

#include "log.h"
#include "misdn_bchannel.h"
#include "misdn_lib_iface.h"

channel_spender *chan_mgr = nullptr;

static const char *const behaviour_names[] = {"ERROR", "EXCLUSIVE", "ALTERNATIVE", "ANY"};
static const char *const state_names[] = {"CHANNEL_FREE", "CHANNEL_PENDING_OUTGOING", "CHANNEL_ACTIVE"};

const char *chansel_behaviour2str(int behaviour)
{
    return behaviour >= CHANNEL_EXCLUSIVE && behaviour <= CHANNEL_ANY ? behaviour_names[behaviour] : "ERROR";
}

const char *channel_state2str(int state)
{
    return state >= CHANNEL_FREE && state <= CHANNEL_ACTIVE ? state_names[state] : "CHANNEL_INVALID";
}

static int pid_of(const misdn_bchannel *bc) { return bc ? bc->pid : -1; }

// The port's record, null when the port is outside the book or not registered.
static portdata *port_of(channel_spender *cs, int port)
{
    if (!cs || !cs->ports || port < 0 || port > cs->portmax)
        return nullptr;
    return cs->ports[port];
}

static bool valid_channel(const portdata *pd, int channel) { return channel >= 1 && channel <= pd->channel_count; }

static void take(portdata *pd, int channel, int state, misdn_bchannel *bc)
{
    pd->channelstates[channel] = state;
    pd->bchannels[channel] = bc;
}

static void give_back(portdata *pd, int channel) { take(pd, channel, CHANNEL_FREE, nullptr); }

// Lowest free channel from 1 up that is not the D-channel; 0 when none.
static int first_free(const portdata *pd)
{
    for (int c = 1; c <= pd->channel_count; c++)
        if (pd->channelstates[c] == CHANNEL_FREE && c != pd->dchannel)
            return c;
    return 0;
}

// The first channel held by bc; 0 when none.
static int held_by(const portdata *pd, const misdn_bchannel *bc)
{
    for (int c = 1; c <= pd->channel_count; c++)
        if (pd->bchannels[c] == bc)
            return c;
    return 0;
}

struct book_lock {
    channel_spender *cs;
    explicit book_lock(channel_spender *c) : cs(c) { pthread_mutex_lock(&cs->lock); }
    ~book_lock() { pthread_mutex_unlock(&cs->lock); }
};

void channel_spender_init(channel_spender *cs, int maxports)
{
    if (!cs)
        return;
    if (maxports < 0)
        maxports = 0;
    cs->ports = (portdata **)calloc((size_t)maxports + 1, sizeof(portdata *));
    cs->portmax = cs->ports ? maxports : -1;
    pthread_mutex_init(&cs->lock, nullptr);
}

void channel_spender_init_port(channel_spender *cs, int port, int bri_or_pri, int behaviour, int dchannel)
{
    if (!cs || !cs->ports || port < 0 || port > cs->portmax) {
        cb_log(0, port, -1, "channel_spender_init_port: port %i outside the book (0..%i)\n", port,
               cs ? cs->portmax : -1);
        return;
    }
    book_lock g(cs);
    if (cs->ports[port]) {
        cb_log(6, port, -1, "channel_spender_init_port: port %i already configured\n", port);
        return;
    }
    portdata *pd = (portdata *)calloc(1, sizeof(portdata));
    if (!pd)
        return;
    pd->behaviour = behaviour;
    if (bri_or_pri == CHANNEL_SPENDER_PRI) {
        if (dchannel < 1 || dchannel > CHANNEL_SPENDER_MAX_CHANNELS) {
            cb_log(0, port, -1, "channel_spender_init_port: invalid dchannel given\n");
            fprintf(stderr, "channel_spender_init_port: invalid dchannel given\n");
            free(pd);
            TARN_EXIT(117, "channel_spender_init_port: invalid dchannel %i on port %i", dchannel, port);
        }
        pd->channel_count = CHANNEL_SPENDER_MAX_CHANNELS;
        pd->dchannel = dchannel;
    } else {
        pd->channel_count = 2;
        pd->dchannel = 0;
    }
    cs->ports[port] = pd;
}

int channel_spender_request_outgoing_channel(channel_spender *cs, int port, int requested_channel,
                                             misdn_bchannel *bc, int *resulting_channel)
{
    portdata *pd = port_of(cs, port);
    if (!pd || !resulting_channel)
        return -1;
    book_lock g(cs);
    cb_log(6, port, pid_of(bc), "channel_spender_request_outgoing_channel: port %i rchan %i - lb %s - bc %p", port,
           requested_channel, chansel_behaviour2str(pd->behaviour), (void *)bc);
    if (pd->behaviour == CHANNEL_ANY) {
        *resulting_channel = 255;
        return 0;
    }
    if (requested_channel) {
        if (!valid_channel(pd, requested_channel))
            return -1;
        if (pd->channelstates[requested_channel] == CHANNEL_FREE) {
            take(pd, requested_channel, CHANNEL_PENDING_OUTGOING, bc);
            *resulting_channel = requested_channel;
            cb_log(6, port, pid_of(bc), "channel_spender_request_outgoing_channel: port %i reqchan %i - got channel %i",
                   port, requested_channel, requested_channel);
            return 0;
        }
        *resulting_channel = 0;
        cb_log(6, port, pid_of(bc), "channel_spender_request_outgoing_channel: port %i rchan %i - Channel already in use",
               port, requested_channel);
        return -1;
    }
    int c = first_free(pd);
    if (!c) {
        cb_log(6, port, pid_of(bc), "channel_spender_request_outgoing_channel: port %i reqchan %i - no free channel found",
               port, requested_channel);
        return -2;
    }
    take(pd, c, CHANNEL_PENDING_OUTGOING, bc);
    *resulting_channel = c;
    cb_log(6, port, pid_of(bc), "channel_spender_request_outgoing_channel: port %i reqchan %i - found channel %i", port,
           requested_channel, c);
    return 0;
}

int channel_spender_process_incoming_channel_request(channel_spender *cs, int port, int requested_channel,
                                                     int remote_behaviour, int *answer_channel,
                                                     misdn_bchannel *bc)
{
    portdata *pd = port_of(cs, port);
    if (!pd || !answer_channel)
        return -1;
    book_lock g(cs);
    char head[160];
    snprintf(head, sizeof head,
             "channel_spender_process_incoming_channel_request: port %i - rchan %i - rb %s - bc %p", port,
             requested_channel, chansel_behaviour2str(remote_behaviour), (void *)bc);
    cb_log(6, port, pid_of(bc), "%s", head);

    // our first free channel for the incoming call, or -2
    auto grant_free = [&](const char *what) {
        int c = first_free(pd);
        if (!c) {
            cb_log(6, port, pid_of(bc), "%s - No free channel", head);
            return -2;
        }
        take(pd, c, CHANNEL_ACTIVE, bc);
        *answer_channel = c;
        cb_log(6, port, pid_of(bc), "%s - %s %i", head, what, c);
        return 0;
    };

    if (requested_channel == 0 || requested_channel == 255) {
        int c = first_free(pd);
        if (!c) {
            cb_log(6, port, pid_of(bc), "%s - No free channel", head);
            return -2;
        }
        take(pd, c, CHANNEL_ACTIVE, bc);
        if (pd->behaviour == CHANNEL_EXCLUSIVE && bc)
            bc->exclusive = 1;
        *answer_channel = c;
        cb_log(6, port, pid_of(bc), "%s - Found channel %i", head, c);
        return 0;
    }
    if (remote_behaviour == CHANNEL_ANY) {
        cb_log(6, port, pid_of(bc), "%s - Total disaster!!!", head);
        return -1;
    }
    if (!valid_channel(pd, requested_channel)) {
        cb_log(6, port, pid_of(bc), "%s - Invalid channel requested!!!", head);
        return -1;
    }
    int c = requested_channel;
    switch (pd->channelstates[c]) {
    case CHANNEL_FREE:
        take(pd, c, CHANNEL_ACTIVE, bc);
        *answer_channel = c;
        cb_log(6, port, pid_of(bc), "%s - Channel %i ACK!!!", head, c);
        return 0;
    case CHANNEL_ACTIVE:
        cb_log(0, port, pid_of(bc),
               "channel_spender_process_incoming_channel_request: Got request for already active channel %i", c);
        return -1;
    default:
        break;
    }
    // glare: the channel is pending for our own outgoing call
    if (pd->behaviour == CHANNEL_EXCLUSIVE && remote_behaviour == CHANNEL_EXCLUSIVE) {
        cb_log(6, port, pid_of(bc), "%s - Channel %i Conflict!!!\n\n\n", head, c);
        return -3;
    }
    if (pd->behaviour == CHANNEL_EXCLUSIVE && remote_behaviour == CHANNEL_ALTERNATIVE)
        return grant_free("Answering with channel");
    if (pd->behaviour == CHANNEL_ALTERNATIVE && remote_behaviour == CHANNEL_EXCLUSIVE) {
        take(pd, c, CHANNEL_ACTIVE, bc);
        *answer_channel = c;
        cb_log(6, port, pid_of(bc), "%s - Accepting channel %i", head, c);
        return 0;
    }
    if (pd->behaviour == CHANNEL_ALTERNATIVE && remote_behaviour == CHANNEL_ALTERNATIVE)
        return grant_free("Offering channel");
    if (pd->behaviour == CHANNEL_ANY)
        fprintf(stderr, "ogodogodogodogodogodogodogodogodogodogodogod we have a problem\n");
    return -1;
}

int channel_spender_process_answer(channel_spender *cs, int port, misdn_bchannel *bc, int channel, int exclusive)
{
    portdata *pd = port_of(cs, port);
    if (!pd)
        return -1;
    book_lock g(cs);
    cb_log(3, port, pid_of(bc), "channel_spender_process_answer: port %i channel %i exclusive %i bc %p", port,
           channel, exclusive, (void *)bc);
    if (channel == 0 || channel == 255)
        return 0;  // the answer names no channel (yet): our reservation stands
    if (!valid_channel(pd, channel)) {
        cb_log(0, port, pid_of(bc), "channel_spender_process_answer: channel %i not on this port", channel);
        return -1;
    }
    int st = pd->channelstates[channel];
    misdn_bchannel *holder = pd->bchannels[channel];
    switch (pd->behaviour) {
    case CHANNEL_ANY:
        if (st == CHANNEL_FREE || holder == bc || !holder) {
            take(pd, channel, CHANNEL_ACTIVE, bc);
            return 0;
        }
        return -1;
    case CHANNEL_ALTERNATIVE: {
        cb_log(3, port, pid_of(bc), "channel_spender_process_answer: lb CHANNEL_ALTERNATIVE");
        if ((st == CHANNEL_PENDING_OUTGOING || st == CHANNEL_ACTIVE) && holder == bc) {
            take(pd, channel, CHANNEL_ACTIVE, bc);
            return 0;
        }
        int own = held_by(pd, bc);
        if (own)
            give_back(pd, own);
        else
            cb_log(0, port, pid_of(bc), "channel_spender_process_answer: alternative proposal already cleared");
        if (pd->channelstates[channel] == CHANNEL_FREE) {
            take(pd, channel, CHANNEL_ACTIVE, bc);
            return 0;
        }
        cb_log(0, port, pid_of(bc), "channel_spender_process_answer: cannot accept alternative");
        return -1;
    }
    case CHANNEL_EXCLUSIVE: {
        cb_log(3, port, pid_of(bc), "channel_spender_process_answer: lb CHANNEL_EXCLUSIVE");
        if (st == CHANNEL_PENDING_OUTGOING && holder == bc) {
            take(pd, channel, CHANNEL_ACTIVE, bc);
            return 0;
        }
        if (st == CHANNEL_ACTIVE && holder == bc)
            return 0;
        int own = held_by(pd, bc);
        if (own)
            give_back(pd, own);
        return -1;
    }
    default:
        return -1;
    }
}

int channel_spender_release_channel(channel_spender *cs, misdn_bchannel *bc, int port, int channel)
{
    cb_log(6, port, pid_of(bc), "channel_spender_release_channel: port %i channel %i", port, channel);
    portdata *pd = port_of(cs, port);
    if (!pd)
        return 0;
    book_lock g(cs);
    if (bc && valid_channel(pd, bc->channel) && valid_channel(pd, channel) && pd->bchannels[channel] == bc) {
        give_back(pd, channel);
        return 0;
    }
    for (int c = 0; c <= pd->channel_count; c++)
        if (pd->bchannels[c] == bc)
            give_back(pd, c);
    return 0;
}

int channel_spender_is_channel_assigned(channel_spender *cs, misdn_bchannel *bc, int port, int channel)
{
    portdata *pd = port_of(cs, port);
    if (!pd || !valid_channel(pd, channel))
        return 0;
    book_lock g(cs);
    return pd->channelstates[channel] == CHANNEL_ACTIVE && pd->bchannels[channel] == bc;
}

int channel_spender_get_behaviour(channel_spender *cs, int port)
{
    portdata *pd = port_of(cs, port);
    return pd ? pd->behaviour : CHANNEL_DEFAULT;
}

int channel_spender_get_dchannel(channel_spender *cs, int port)
{
    portdata *pd = port_of(cs, port);
    return pd ? pd->dchannel : 0;
}

int channel_spender_get_state(channel_spender *cs, int port, int channel, misdn_bchannel **holder)
{
    portdata *pd = port_of(cs, port);
    if (!pd || channel < 0 || channel > pd->channel_count)
        return -1;
    book_lock g(cs);
    if (holder)
        *holder = pd->bchannels[channel];
    return pd->channelstates[channel];
}

void channel_spender_list_ports(FILE *fp, channel_spender *cs)
{
    if (!fp || !cs || !cs->ports)
        return;
    book_lock g(cs);
    for (int port = 1; port <= cs->portmax; port++) {
        portdata *pd = cs->ports[port];
        if (!pd) {
            fprintf(fp, "Port %i is not configured\n", port);
            continue;
        }
        fprintf(fp, "Port %i is configured\n", port);
        fprintf(fp, "Behaviour %s\n", chansel_behaviour2str(pd->behaviour));
        fprintf(fp, "Channels %i\n", pd->channel_count);
        fprintf(fp, "listing channels:\n");
        for (int c = 1; c <= pd->channel_count; c++)
            fprintf(fp, "Port %i:%02i -> %s - bc %p pid %i\n", port, c, channel_state2str(pd->channelstates[c]),
                    (void *)pd->bchannels[c], pd->bchannels[c] ? pd->bchannels[c]->pid : -1);
    }
}

void misdn_channel_spender_list_ports(FILE *fp) { channel_spender_list_ports(fp, chan_mgr); }
