#include "msp_device.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "application.h"
#include "confman.h"
#include "csm_codes.h"
#include "csm_log.h"
#include "csm_message.h"
#include "experimental_options.h"
#include "log.h"
#include "msp_manager.h"
#include "msp_queue.h"
#include "msp_timeslot.h"
#include "network_config.h"
#include "pools.h"
#include "schema.h"
#include "strtools.h"

volatile int msp_cleanup_channel_type = 0xFFFF;
volatile int msp_cleanup_channel_id = 0;

namespace {

const experimental_options *eo() { return gp ? gp->experimental_options : nullptr; }

// A new message of the code with the next message counter as its index.
magic_csm new_message(int function_code)
{
    return create_default_csm_msg(function_code, ++gp->msp_counter);
}

// Queued to the device; waits for the answer when asked to: the queue's result.
int to_device(magic_csm m, int waits, void *context = nullptr, int timeslot = MSP_ADDRESS_DEVICE)
{
    return msp_queue_command(m, timeslot, context, waits, 0);
}

bool config_yes(const char *v) { return strcasecmp(v, "yes") == 0 || strcmp(v, "1") == 0; }

// ---- the fields of each step --------------------------------------------------

int bus_mode(void *r, int)
{
    static_cast<csmdev_tdm_select_bus_mode *>(r)->mode = 4;
    return 0;
}

int pcm_law(void *r, int)
{
    static_cast<csmdev_set_pcm_law *>(r)->pcm_law = 0;
    return 0;
}

int country_code(void *r, int)
{
    static_cast<csmdev_device_set_country_code *>(r)->country_code_selection = 12;
    return 0;
}

int buses() { return TDM_BUSES; }

int tdm_params(void *r, int bus)
{
    const tdm_settings &t = gp->tdm_map;
    if (t.bus_configure_count[bus] <= 0)
        return 1;
    LOGD(MSP, 2, nullptr, "configuring %i timeslots on bus %i", t.bus_configure_count[bus], bus);
    auto *p = static_cast<csmdev_tdm_setup_tdm_params *>(r);
    p->time_slots_per_frame = (uint32_t)t.bus_configure_count[bus];
    p->frame_edge = (uint32_t)t.frame_edge[bus];
    p->transmit_clock_edge = (uint32_t)t.transmit_clock_edge[bus];
    p->received_clock_edge = (uint32_t)t.receive_clock_edge[bus];
    p->clock_mode_select_transmitter = (uint32_t)t.clock_mode_transmitter[bus];
    p->clock_mode_select_receiver = (uint32_t)t.clock_mode_receiver[bus];
    p->number_cycles_delay_transmitter = (uint32_t)t.delay_transmitter[bus];
    p->number_cycles_delay_receiver = (uint32_t)t.delay_receiver[bus];
    p->data_invert_transmitter = 0;
    p->data_invert_receiver = 0;
    p->bit_order_transmitter = 1;
    p->inverted_frame_signal = 1;
    p->bit_order_receiver = 1;
    p->bus_number = (uint32_t)bus;
    return 0;
}

int all_timeslots()
{
    int n = 0;
    for (int c : gp->tdm_map.bus_configure_count)
        n += c;
    return n;
}

int ts_silent(void *r, int ts)
{
    auto *p = static_cast<csmdev_set_ts_mode *>(r);
    p->timeslot_number = (uint32_t)ts;
    p->timeslot_mode = 1;
    return 0;
}

int when_latency() { return eo() && eo()->eo_latency >= 0 ? 1 : 0; }

int latency(void *r, int)
{
    static_cast<csmdev_latency_level *>(r)->latency_level = (uint32_t)eo()->eo_latency;
    return 0;
}

int eth_hdr(void *r, int)
{
    const network_config &n = gp->netconf;
    auto *p = static_cast<csmdev_set_eth_hdr *>(r);
    p->hostmac_1 = n.msp_hostside_mac_1;
    p->hostmac_2 = n.msp_hostside_mac_2;
    p->hostmac_3 = n.msp_hostside_mac_3;
    p->assigned_mac_1 = n.host_mac_1;
    p->assigned_mac_2 = n.host_mac_2;
    p->assigned_mac_3 = n.host_mac_3;
    return 0;
}

int when_hang_on_alert() { return eo() && eo()->eo_hang_on_alert == 1 ? 1 : 0; }

int hang_on_alert(void *r, int)
{
    auto *p = static_cast<csmdev_hang_on_alert *>(r);
    p->store_commands = 0;
    p->enable_hang_on_alert = 1;
    return 0;
}

// The firmware that resets its channels in one command.
int when_channels_reset() { return strstr(gp->firmware_version, "84164") ? 1 : 0; }

int channels_reset(void *r, int)
{
    static_cast<csmdev_channels_reset *>(r)->reset_channels = 1;
    return 0;
}

void after_channels_reset()
{
    if (!when_channels_reset())
        return;
    sleep(1);
    if (cman)
        cman->msplib_initializing = 0;
}

int ip_address(void *r, int)
{
    const network_config &n = gp->netconf;
    auto *p = static_cast<csmdev_set_ip_address *>(r);
    if ((eo() && eo()->eo_ipaddress_method == 1) || gp->rtp_traffic) {
        p->device_ip_word1 = ip_to_short(n.host_ip_lan, 1);
        p->device_ip_word2 = ip_to_short(n.host_ip_lan, 2);
    } else {
        p->device_ip_word1 = n.msp_mspside_ip_1;
        p->device_ip_word2 = n.msp_mspside_ip_2;
    }
    return 0;
}

int ip_options(void *r, int)
{
    char port[64], ip[64];
    if (cm_get(gp->config_tarn, port, sizeof port, 0, CFG_TARN_MSP_SOURCE_PORT_VERIFICATION) != 0) {
        LOGD(TARN, 0, nullptr, "CRITICAL: Reading config file failed: CFG_GEN_TARN_MSP_SOURCE_PORT_VERIFICATION");
        return -1;
    }
    if (cm_get(gp->config_tarn, ip, sizeof ip, 0, CFG_TARN_MSP_SOURCE_IP_VERIFICATION) != 0) {
        LOGD(TARN, 0, nullptr, "CRITICAL: Reading config file failed: CFG_GEN_TARN_MSP_SOURCE_IP_VERIFICATION");
        return -1;
    }
    auto *p = static_cast<csmdev_ip_options *>(r);
    p->verification_source_port = config_yes(port) ? 1 : 0;
    p->verification_source_ip = config_yes(ip) ? 1 : 0;
    return 0;
}

int spu_features(void *r, int)
{
    auto *p = static_cast<csmdev_spu_features_control *>(r);
    p->fft_based_call_progress_detection = 1;
    p->ip_interface_tone_detection = 1;
    p->bandpass_filter_call_progress_detection = 1;
    p->acoustic_echo_control = eo() && eo()->eo_virtual_transcoding ? 1 : 0;
    return 0;
}

// The multicast list of the running bring-up, split into its items.
std::vector<std::string> multicast_items;

int read_multicast_list()
{
    char text[1024];
    if (cm_get(gp->config_tarn, text, sizeof text, 0, CFG_TARN_MULTICAST_ADDRESSES) != 0) {
        LOGD(TARN, 0, nullptr, "CRITICAL: Couldn't read pcm multicast address list from config!");
        return -1;
    }
    multicast_items = st_split_string(text, ',');
    return (int)multicast_items.size();
}

// The two lines of a multicast change on standard error, and the fields.
void multicast_fields(csmdev_set_multicast_eth_addr *p, int remove, uint8_t b4, uint8_t b5)
{
    fprintf(stderr, "set_multicast_address remove: %i => bytes: %02x%02x\n", remove, b4, b5);
    fprintf(stderr, "%s multicast mac %s\n", remove ? "Removed" : "Added", multicast_mac_text(b4, b5).c_str());
    p->remove_address = remove ? 1 : 0;
    p->bytes_45 = (uint32_t)(b4 << 8 | b5);
}

int multicast(void *r, int k)
{
    uint8_t b4, b5;
    const char *item = multicast_items[(size_t)k].c_str();
    if (!multicast_item_usable(item, &b4, &b5)) {
        fprintf(stderr, "set_multicast_address: cannot set invalid address %s\n", item);
        return 1;
    }
    multicast_fields(static_cast<csmdev_set_multicast_eth_addr *>(r), 0, b4, b5);
    return 0;
}

} // namespace

const msp_device_step msp_device_steps[] = {
    /* 1 */ {1, FC_TDM_SELECT_BUS_MODE, nullptr, bus_mode, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 2 */ {2, FC_SUPVSR_SET_PCM_LAW, nullptr, pcm_law, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 3 */ {3, FC_DEVICE_SET_COUNTRY_CODE, nullptr, country_code, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 4 */ {4, FC_SUPVSR_SETUP_TDM_PARAMS, buses, tdm_params, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 5 */ {5, FC_SUPVSR_SET_TS_MODE, all_timeslots, ts_silent, 1, 1, nullptr, nullptr, 0, nullptr},
    /* 6 */ {6, FC_LATENCY_LEVEL, when_latency, latency, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 7 */ {7, FC_ETH_SERVICE_CONFIG, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 8 */ {8, FC_SET_ETH_HDR, nullptr, eth_hdr, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 9 */ {9, FC_HANG_ON_ALERT, when_hang_on_alert, hang_on_alert, 1, 1, nullptr, nullptr, 0, nullptr},
    /* 10 */ {10, FC_SPU_RECOVERY_DISABLE, when_hang_on_alert, nullptr, 1, 1, nullptr, nullptr, 0, nullptr},
    /* 11 */ {11, FC_CHANNELS_RESET, when_channels_reset, channels_reset, 1, 1, clear_channels, after_channels_reset, 0, nullptr},
    /* 12 */ {12, FC_IP_SERVICE_CONFIG, nullptr, nullptr, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 13 */ {13, FC_IP_ADDRESS, nullptr, ip_address, 1, 0, nullptr, nullptr, 115, "Setting IP finally failed -> giving up -> exiting"},
    /* 14 */ {14, FC_IP_OPTIONS, nullptr, ip_options, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 15 */ {15, FC_SPU_FEATURES_CONTROL, nullptr, spu_features, 0, 0, nullptr, nullptr, 0, nullptr},
    /* 16 */ {16, FC_SET_MULTICAST_ETH_ADDR, read_multicast_list, multicast, 1, 0, nullptr, nullptr, 0, nullptr},
};
const int msp_device_step_count = sizeof msp_device_steps / sizeof msp_device_steps[0];
static_assert(sizeof msp_device_steps / sizeof msp_device_steps[0] == 16, "sixteen steps");

int init_msp_device()
{
    const int initial = eo() ? eo()->eo_msp_initial_logging : 0;
    for (int i = 0; i < msp_device_step_count; i++) {
        const msp_device_step &s = msp_device_steps[i];
        msp_logging_active = s.initial_logging ? initial : 1;
        int n = s.count ? s.count() : 1;
        if (n < 0)
            return -1;
        if (n == 0 && s.otherwise)
            s.otherwise();
        for (int k = 0; k < n; k++) {
            magic_csm m = new_message(s.function_code);
            if (csm_msg_is_null(m)) {
                LOGD(MSP, 0, nullptr, "CRITICAL: no message for step %i", s.step);
                continue;
            }
            int r = s.fields ? s.fields(m.u_raw, k) : 0;
            if (r != 0) {
                delete_csm_msg(m);
                if (r < 0)
                    return -1;
                continue;
            }
            if (to_device(m, s.waits) == -1 && s.waits && s.exit_code)
                TARN_EXIT(s.exit_code, "%s", s.exit_text);
        }
        if (s.after)
            s.after();
    }
    msp_logging_active = 1;
    return 0;
}

void make_tdm_silent(int count)
{
    for (int ts = 0; ts < count; ts++) {
        magic_csm m = new_message(FC_SUPVSR_SET_TS_MODE);
        if (csm_msg_is_null(m))
            continue;
        ts_silent(m.u_raw, ts);
        to_device(m, 1);
    }
}

void set_multicast_address(int remove, uint8_t b4, uint8_t b5)
{
    magic_csm m = new_message(FC_SET_MULTICAST_ETH_ADDR);
    if (csm_msg_is_null(m))
        return;
    multicast_fields(m.u_csmdev_set_multicast_eth_addr, remove, b4, b5);
    to_device(m, 1);
}

bool multicast_item_usable(const char *item, uint8_t *b4, uint8_t *b5)
{
    std::string host = item ? item : "";
    host = host.substr(0, host.find(':'));
    std::vector<std::string> parts = st_split_string(host, '.');
    if (parts.size() != 4)
        return false;
    int part[4];
    for (int n = 0; n < 4; n++) {
        char *end = nullptr;
        long v = strtol(parts[n].c_str(), &end, 10);
        if (parts[n].empty() || *end || v < 0 || v > 255)
            return false;
        part[n] = (int)v;
    }
    if (part[0] != 224 || part[1] != 0)
        return false;
    *b4 = (uint8_t)part[2];
    *b5 = (uint8_t)part[3];
    return true;
}

std::string multicast_mac_text(uint8_t b4, uint8_t b5)
{
    char mac[32];
    snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", 0x01, 0x00, 0x5e, 0x00, b4, b5);
    return mac;
}

// ---- leftover channels ------------------------------------------------------------

void init_cleanup_transconnect_calls(const int *channels, int count)
{
    for (int i = 0; i < count; i++)
        for (int j = i + 1; j < count; j++) {
            magic_csm m = new_message(FC_TRANS_CONNECT);
            if (csm_msg_is_null(m))
                continue;
            printf("CLEANING COMBINATION %i/%i on idx %i/%i\n", channels[i], channels[j], i, j);
            csmdev_trans_connect *t = m.u_csmdev_trans_connect;
            t->transcoding_channel_id_a = (uint32_t)channels[i];
            t->transcoding_channel_id_b = (uint32_t)channels[j];
            t->transcoding_session_enable = 0;
            t->use_channels_instead_of_timeslots = 1;
            to_device(m, 1);
        }
    fflush(stdout);
}

// The channel on a timeslot as the device reports it: its type (0xffff for
// none) and number.
static int query_timeslot(int timeslot, int *channel)
{
    magic_csm q = create_query_csm_msg(FC_SUPVSR_CREATE_CHANNEL, CSM_CLASS_DEVICE, CSM_TYPE_QUERY, ++gp->msp_counter);
    if (csm_msg_is_null(q))
        return 0xFFFF;
    q.u_csmdev_create_channel_query->timeslot = (uint32_t)timeslot;
    msp_cleanup_channel_type = 0xFFFF;
    msp_cleanup_channel_id = 0;
    msp_queue_command(q, MSP_ADDRESS_DEVICE, nullptr, 1, 1);
    *channel = msp_cleanup_channel_id;
    return msp_cleanup_channel_type;
}

static void assign(int timeslot, int channel)
{
    msp_queue_lock_take();
    msp_assign_channel_to_timeslot(timeslot, channel, nullptr);
    msp_queue_lock_release();
}

static void release(int timeslot)
{
    msp_queue_lock_take();
    msp_release_timeslot(nullptr, timeslot);
    msp_queue_lock_release();
}

enum { MSP_CLEARED_CHANNELS = 255 };

void clear_channels()
{
    // The pools do not exist yet: a call object and SIP leg of its own carry
    // the leftovers' timeslot and channel as the commands' owner.
    auto *co = static_cast<call_object *>(calloc(1, sizeof(call_object)));
    auto *leg = static_cast<call_leg_sip *>(calloc(1, sizeof(call_leg_sip)));
    if (!co || !leg) {
        free(co);
        free(leg);
        LOGD(MSP, 0, nullptr, "CRITICAL: no memory for clearing leftover channels");
        return;
    }
    init_call_object(co, 0);
    co->cl_sip = co->cl_sip_out = leg;

    const tdm_settings &t = gp->tdm_map;
    std::vector<int> found;
    for (int i = 0; i < t.timeslot_size; i++) {
        int ts = t.timeslots[i].logical_timeslot;
        int channel = 0;
        int type = query_timeslot(ts, &channel);
        if (type == 0xFFFF)
            continue;
        LOGD(MSP, 2, nullptr, "Still active channel on timeslot %i/channel %i ct=%i", ts, channel, type);
        co->tdm_logical_timeslot = ts;
        leg->msp_channel = channel;
        assign(ts, channel);
        found.push_back(channel);
        magic_csm off = new_message(FC_VOIP_VOPENA);
        if (!csm_msg_is_null(off)) {
            off.u_csmchan_voip_vopena->channel_mode = 0;
            to_device(off, 1, co, ts);
        }
        release(ts);
    }
    if (!found.empty())
        init_cleanup_transconnect_calls(found.data(), (int)found.size());
    _msp_list_timeslot_manager();
    free(leg);
    free(co);

    for (int ch = 0; ch < MSP_CLEARED_CHANNELS; ch++) {
        assign(0, ch);
        magic_csm d = new_message(FC_SUPVSR_DESTROY_CHANNEL);
        if (csm_msg_is_null(d))
            continue;
        d.u_csmdev_destroy_channel->channel_number = (uint32_t)ch;
        to_device(d, 1, nullptr, 0);
    }
    _msp_list_timeslot_manager();
    if (cman)
        cman->msplib_initializing = 0;
}
