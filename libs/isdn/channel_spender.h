// The channel book of the ISDN ports: which B-channel numbers of a port are
// taken, by which call and in which state. It reserves channels for our own
// SETUPs, answers the channel requests of incoming SETUPs, accepts or
// refuses the far side's answer to our request, and settles glare by the
// port's channel behaviour.
//
// Every change and query runs under the book's one mutex; the getters of
// behaviour and D-channel read without it (both are fixed at registration).
// Channel numbers coming from the wire are checked against the port's
// channel count before they index anything.
#pragma once
#include <pthread.h>
#include <cstdio>

struct misdn_bchannel;

enum chansel_behaviour {
    CHANNEL_DEFAULT = 0,
    CHANNEL_EXCLUSIVE = 1,
    CHANNEL_ALTERNATIVE = 2,
    CHANNEL_ANY = 3
};

enum channel_state {
    CHANNEL_FREE = 0,
    CHANNEL_PENDING_OUTGOING = 1,  // reserved for our own SETUP, not confirmed yet
    CHANNEL_ACTIVE = 2
};

enum { CHANNEL_SPENDER_MAX_CHANNELS = 31, CHANNEL_SPENDER_BRI = 1, CHANNEL_SPENDER_PRI = 2 };

struct portdata {
    int behaviour;
    int channelstates[CHANNEL_SPENDER_MAX_CHANNELS + 1];          // by channel; 0 is no channel
    misdn_bchannel *bchannels[CHANNEL_SPENDER_MAX_CHANNELS + 1];  // the call holding it
    int channel_count;
    int dchannel;  // never handed out by a search; 0 none
};

struct channel_spender {
    portdata **ports;  // 0..portmax, null for a port not registered
    int portmax;
    pthread_mutex_t lock;
};

// The library's one book, made by misdn_lib_init (null before).
extern channel_spender *chan_mgr;

const char *chansel_behaviour2str(int behaviour);
const char *channel_state2str(int state);

// Empty book for ports 0..maxports.
void channel_spender_init(channel_spender *cs, int maxports);
// Registers a port once. A primary-rate dchannel outside 1..31 ends the process with 117.
void channel_spender_init_port(channel_spender *cs, int port, int bri_or_pri, int behaviour, int dchannel);

// Outgoing SETUP: 0 and *resulting_channel (255 when the network chooses),
// -1 invalid or taken, -2 no free channel.
int channel_spender_request_outgoing_channel(channel_spender *cs, int port, int requested_channel,
                                             misdn_bchannel *bc, int *resulting_channel);
// Channel identification of an incoming SETUP (0 or 255: any channel):
// 0 and *answer_channel, -1 refused, -2 no free channel, -3 exclusive conflict.
int channel_spender_process_incoming_channel_request(channel_spender *cs, int port, int requested_channel,
                                                     int remote_behaviour, int *answer_channel,
                                                     misdn_bchannel *bc);
// The channel the far side named in its answer to our SETUP: 0 or -1. An
// answer that names no channel (0, 255) changes nothing.
int channel_spender_process_answer(channel_spender *cs, int port, misdn_bchannel *bc, int channel,
                                   int exclusive);
// Frees what bc holds on the port; always 0.
int channel_spender_release_channel(channel_spender *cs, misdn_bchannel *bc, int port, int channel);
int channel_spender_is_channel_assigned(channel_spender *cs, misdn_bchannel *bc, int port, int channel);
int channel_spender_get_behaviour(channel_spender *cs, int port);
int channel_spender_get_dchannel(channel_spender *cs, int port);
// The state of one channel (tests, listings); -1 for a port or channel the book has not.
int channel_spender_get_state(channel_spender *cs, int port, int channel, misdn_bchannel **holder);

void channel_spender_list_ports(FILE *fp, channel_spender *cs);
void misdn_channel_spender_list_ports(FILE *fp);
