// Channel identification: basic-rate style (one octet, channels 1 and 2) or
// primary-rate style (interface type octet, coding octet, channel number).
#include <cstdio>

#include "ie_coders.h"
#include "isdn_msg.h"
#include "misdn_bchannel.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"

int cidmodval = 0;

// The port's facts; logs and fails when the call's port has no stack.
static int stack_facts(const char *coder, misdn_bchannel *bc, q931_port_facts *f)
{
    if (!bc || q931_port_facts_get(bc->port, f) < 0) {
        cb_log_as(coder, 0, bc ? bc->port : 0, bc ? bc->pid : -1, "%s: ERROR: Couldn't get stack by bc %p.\n",
                  coder, (void *)bc);
        return -1;
    }
    return 0;
}

static int pri_style(const q931_port_facts &f) { return f.cidlen != 1 || f.pri; }

void enc_ie_channel_id(msg_t *msg, int exclusive, int channel, int nt, misdn_bchannel *bc)
{
    if (!bc || bc->channel_id_encoded)
        return;
    bc->channel_id_encoded = 1;
    q931_port_facts f;
    if (stack_facts(__func__, bc, &f) < 0)
        return;
    int pri = pri_style(f);
    if (exclusive < 0 || exclusive > 1) {
        printf("%s: ERROR: exclusive(%d) is out of range.\n", __func__, exclusive);
        return;
    }
    if (channel < 0 || channel > 255 || channel == 254 || (!pri && channel > 2 && channel != 255) ||
        (pri && ((channel > 31 && channel != 255) || channel == 16))) {
        printf("%s: ERROR: channel(%d) is out of range.\n", __func__, channel);
        return;
    }
    unsigned char c[3];
    int l;
    if (!pri) {
        c[0] = (unsigned char)(0x80 | (exclusive << 3) | (channel == 255 ? 3 : channel));
        l = 1;
    } else if (channel == 0) {
        return;
    } else if (channel == 255) {
        c[0] = 0xA3;
        l = 1;
    } else {
        c[0] = (unsigned char)(0xA1 | (exclusive << 3));
        c[1] = 0x83;
        c[2] = (unsigned char)(0x80 | channel);
        l = 3;
    }
    cb_log(18, bc->port, bc->pid, "enc_ie_channel_id: exclusive=%d channel=%d\n", exclusive, channel);
    isdn_trace_add("  CHANNEL_ID: exclusive=%d channel=%d\n", exclusive, channel);
    if (!l3_ie_add(msg, nt, IE_CHANNEL_ID, c, l))
        cb_log(0, bc->port, bc->pid, "IE 0x%02x does not fit into the message\n", IE_CHANNEL_ID);
}

int dec_ie_channel_id(const msg_t *msg, int *exclusive, int *channel, int nt, misdn_bchannel *bc)
{
    *exclusive = -1;
    *channel = -1;
    const unsigned char *p = l3_ie_get(msg, nt, IE_CHANNEL_ID, 0);
    if (!p)
        return 1;
    q931_port_facts f;
    if (stack_facts(__func__, bc, &f) < 0)
        return 1;
    int L = p[0];
    const unsigned char *c = p + 1;
    if (L < 1) {
        printf("%s: ERROR: IE too short (%d).\n", __func__, L);
        return 1;
    }
    if (c[0] & 0x40) {
        printf("%s: ERROR: refering to channels of other interfaces is not supported.\n", __func__);
        return 1;
    }
    if (c[0] & 0x04) {
        printf("%s: ERROR: using d-channel is not supported.\n", __func__);
        return 1;
    }
    *exclusive = (c[0] & 0x08) >> 3;
    if (!pri_style(f)) {
        if (c[0] & 0x20) {
            printf("%s: ERROR: extended channel ID with non PRI interface.\n", __func__);
            return 1;
        }
        *channel = c[0] & 0x03;
        if (*channel == 3)
            *channel = 255;
    } else {
        if (!(c[0] & 0x20)) {
            printf("%s: ERROR: basic channel ID with PRI interface.\n", __func__);
            return 1;
        }
        switch (c[0] & 0x03) {
        case 0:
            *channel = 0;
            return 0;
        case 3:
            *channel = 255;
            return 0;
        default:
            break;
        }
        if (L < 3) {
            printf("%s: ERROR: IE too short for PRI with channel(%d).\n", __func__, L);
            return 1;
        }
        if (c[1] & 0x10) {
            printf("%s: ERROR: channel map not supported.\n", __func__);
            return 1;
        }
        *channel = c[2] & 0x7F;
        if (!f.pri && *channel > 2) {
            int odd = *channel & 1;
            if (cidmodval == 1)
                *channel = odd ? 1 : 2;
            else
                *channel = odd ? 2 : 1;
        }
        if (*channel <= 0 || *channel == 16 || *channel > 31) {
            printf("%s: ERROR: PRI interface channel out of range (%d).\n", __func__, *channel);
            return 1;
        }
    }
    cb_log(18, bc->port, bc->pid, "dec_ie_channel_id: exclusive=%d channel=%d\n", *exclusive, *channel);
    isdn_trace_add("  CHANNEL_ID: exclusive=%d channel=%d\n", *exclusive, *channel);
    return 0;
}
