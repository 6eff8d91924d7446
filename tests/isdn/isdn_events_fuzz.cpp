// Fuzz target: frames of any kind into the library as the device and the
// network library hand them up: TE layer-3 frames on the sender path, NT
// messages on the sender path, and raw device frames into the catcher's
// sorting (layers, timers, B-channels). Ports without far ends.
#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "global_lock.h"
#include "isdn_lib_intern.h"
#include "isdn_net.h"

namespace {

event_response_e on_event(event_e event, misdn_bchannel *bc, void *)
{
    // answer like a simple call control, so that sending paths run too
    if (event == EVENT_SETUP && bc && bc->in_use && bc->channel > 0 && bc->channel < 255)
        misdn_lib_send_event(bc, EVENT_ALERTING);
    if (event == EVENT_DISCONNECT && bc)
        misdn_lib_send_event(bc, EVENT_RELEASE);
    return RESPONSE_OK;
}

void no_log(int, int, int, const char *, int, const char *, const char *, ...) {}

int no_audio(misdn_bchannel *, char *, int) { return 0; }

// Primitives worth choosing more often than by chance.
const uint32_t prims[] = {
    0x3F082, 0x3F182, 0x30582, 0x30282, 0x30182, 0x30782, 0x30D82, 0x30F82, 0x34582, 0x34D82,
    0x35A82, 0x34D81, 0x35A81, 0x36282, 0x33182, 0x32582, 0x32482, 0x37B82, 0x30581, 0x20181,
    0x20081, 0x10182, 0x10082, 0x0FE682, 0x0F8882, 0x120282, 0x282, 0x20180,
};

msg_t *frame(const uint8_t *head, size_t head_len, const uint8_t *data, size_t len)
{
    msg_t *m = alloc_msg(MAX_MSG_SIZE);
    if (!m)
        return nullptr;
    if (head_len + len > (size_t)MAX_MSG_SIZE)
        len = (size_t)MAX_MSG_SIZE - head_len;
    memcpy(msg_put(m, (int)head_len), head, head_len);
    if (len)
        memcpy(msg_put(m, (int)len), data, len);
    return m;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char dir[] = "/tmp/isdn-fuzz-XXXXXX";
    if (!mkdtemp(dir))
        abort();
    std::string cfg = std::string(dir) + "/ports";
    FILE *f = fopen(cfg.c_str(), "w");
    fputs("1 te bri ptp - - -\n2 nt bri ptmp - - -\n3 te e1 ptp - - -\n4 nt e1 ptp - - -\n", f);
    fclose(f);
    setenv("TARN_MISDN_SIM", cfg.c_str(), 1);
    static misdn_lib_iface iface{on_event, no_log, no_audio};
    isdn_init_info iii{};
    int ports[] = {1, 2, 3, 4};
    for (int k = 0; k < 4; k++) {
        iii.ports[k] = ports[k];
        iii.ptp[k] = k != 1;
        iii.crlen[k] = k == 3 ? 2 : 1;
        iii.cidlen[k] = 1;
    }
    iii.port_count = 4;
    if (misdn_lib_init(&iii, &iface, nullptr) != 0)
        abort();
    misdn_lib_init_port_groups("g(1,3)");
    unlink(cfg.c_str());
    rmdir(dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    const int kind = data[0] % 3;
    const int port = 1 + data[1] % 4;
    uint32_t prim = data[2] < 200 ? prims[data[2] % (sizeof prims / sizeof prims[0])] : 0x30000u | (uint32_t)data[3] << 8 | 0x82;
    // call references from a small set, so that frames meet calls
    int dinfo = data[4] < 128 ? (int)(0x40000001 + data[4] % 4) : data[4] < 192 ? (data[5] << 16) : (int)(data[4] | data[5] << 8);
    const uint8_t *rest = data + 6;
    size_t rest_len = size - 6;
    misdn_stack *stack = get_stack_by_isdn_port(port);
    pthread_mutex_t *global = g_lock_manager->global_lock;
    switch (kind) {
    case 0: {  // a TE layer-3 frame on the sender path
        if (stack->nt)
            break;
        iframe_t h{};
        h.addr = (uint32_t)stack->upper_id;
        h.prim = prim;
        h.dinfo = dinfo;
        h.len = (int)(rest_len > MAX_DFRAME_LEN ? MAX_DFRAME_LEN : rest_len);
        msg_t *m = frame((const uint8_t *)&h, mISDN_HEADER_LEN, rest, rest_len);
        if (!m)
            break;
        pthread_mutex_lock(global);
        handle_te_frame(m);
        pthread_mutex_unlock(global);
        break;
    }
    case 1: {  // a message of the network library
        if (!stack->nt)
            break;
        net_user_head_t h{prim, dinfo};
        msg_t *m = frame((const uint8_t *)&h, sizeof h, rest, rest_len);
        if (!m)
            break;
        pthread_mutex_lock(global);
        handle_event_nt(&stack->mgr, m);
        pthread_mutex_unlock(global);
        break;
    }
    default: {  // a raw device frame into the catcher's sorting
        iframe_t h{};
        uint32_t addrs[] = {(uint32_t)stack->upper_id, stack->bc_meta[0].addr ? (uint32_t)stack->bc_meta[0].addr : 0u,
                            0u, (uint32_t)dinfo};
        h.addr = addrs[data[5] % 4];
        h.prim = prim;
        h.dinfo = dinfo;
        h.len = (int)(rest_len > MAX_DFRAME_LEN ? MAX_DFRAME_LEN : rest_len);
        msg_t *m = frame((const uint8_t *)&h, mISDN_HEADER_LEN, rest, (size_t)h.len);
        if (!m)
            break;
        manager_isdn_handler((iframe_t *)m->data, m);
        break;
    }
    }
    // give the slots back, so that later inputs find free ones
    pthread_mutex_lock(global);
    for (misdn_stack *s = get_misdn_stack(); s; s = s->next)
        for (int i = 0; i <= s->b_num && i < MISDN_SLOTS; i++)
            if (s->bc[i].in_use && data[size - 1] & 1)
                misdn_clear_unassociated_bc(&s->bc[i]);
    pthread_mutex_unlock(global);
    return 0;
}
