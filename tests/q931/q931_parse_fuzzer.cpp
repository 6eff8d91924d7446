// Arbitrary Q.931 messages into every message parser, in both frame shapes,
// and TE frames whose info record itself is arbitrary; the parsed record is
// then built again. Input: a selector octet, a row octet, then the elements
// (or, for raw TE frames, the info record and the elements).
//
// selector bits: 0 NT, 1 raw TE frame, 2-3 port (1 BRI, 2 PRI, 3 BRI with
// cidlen 2, 4 none), 4 use_qsig, 5 reject unknown facilities, 6 cidmod,
// 7 confirm instead of indication. Row octet: bits 0-6 the row (modulo the
// rows), bit 7 a log filter that lets no line through (nothing formatted).
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "isdn_msg.h"
#include "isdn_msg_parser.h"
#include "misdn_lib_iface.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "q931_test_support.h"
#include "ie_coders.h"

static void sink_log(int, int, int, const char *, int, const char *, const char *format, ...)
{
    char line[2048];
    va_list ap;
    va_start(ap, format);
    vsnprintf(line, sizeof(line), format, ap);
    va_end(ap);
}

static event_response_e sink_event(event_e, misdn_bchannel *, void *)
{
    return RESPONSE_OK;
}

static int quiet_send(misdn_bchannel *bc, event_e e)
{
    msg_t *m = isdn_msg_build_event(msgs_g, bc, e, bc->nt);
    free_msg(m);
    return 0;
}

static int no_clock(const struct timespec *) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool ready = [] {
        install_test_ports();
        q931_hooks h{};
        h.send_event = quiet_send;
        h.set_clock = no_clock;
        q931_set_hooks(&h);
        misdn_lib_iface iface{sink_event, sink_log, nullptr};
        misdn_lib_set_iface(&iface);
        misdn_set_time_from_isdn = 1;
        if (!freopen("/dev/null", "w", stdout))
            return false;
        return true;
    }();
    (void)ready;
    if (size < 2 || size > 4096)
        return 0;
    uint8_t sel = data[0];
    int nt = sel & 1;
    int raw = !nt && (sel & 2);
    int row = (data[1] & 0x7F) % ISDN_MSG_ROWS;
    misdn_lib_set_log_filter((data[1] & 0x80) ? [](int, int) { return 0; } : nullptr);
    const uint8_t *body = data + 2;
    size_t blen = size - 2;

    misdn_bchannel bc;
    fresh_bc(&bc, 1 + ((sel >> 2) & 3), nt);
    bc.use_qsig = (sel >> 4) & 1;
    bc.reject_unknown_facility = (sel >> 5) & 1;
    cidmodval = (sel >> 6) & 1;
    uint32_t cmd = (sel & 0x80) ? L3_CONFIRM : L3_INDICATION;

    msg_t *m;
    if (raw) {
        m = alloc_msg((int)(mISDN_FRAME_HEAD_SIZE + blen + 1));
        unsigned char *p = msg_put(m, (int)(mISDN_FRAME_HEAD_SIZE + blen));
        uint32_t head[4] = {0, msgs_g[row].misdn_msg | cmd, 1, (uint32_t)blen};
        memcpy(p, head, sizeof(head));
        memcpy(p + mISDN_FRAME_HEAD_SIZE, body, blen);
        msgs_g[row].msg_parser(msgs_g, m, &bc, 0);
    } else {
        octets wire = {0x08, 0x01, 0x01, (uint8_t)(msgs_g[row].misdn_msg >> 8)};
        wire.insert(wire.end(), body, body + blen);
        m = frame_from_wire(wire, nt, cmd);
        if (!m)
            return 0;
        isdn_msg_parse_event(msgs_g, m, &bc, nt);
    }
    free_msg(m);

    // what was read must build again without harm
    bc.channel_id_encoded = 0;
    msg_t *out = isdn_msg_build_event(msgs_g, &bc, msgs_g[row].event, nt);
    if (out) {
        octets again = frame_to_wire(out, nt);
        (void)again;
        free_msg(out);
    }
    return 0;
}
