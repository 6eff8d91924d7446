// The ISDN device: one handle per open, frames written down to the stacks
// and read up from them, the stack and layer set-up calls, and device timers.
//
// The device runs every port that TARN_MISDN_SIM describes (sim_config.h):
// layer 1 of every port, and in TE mode also layer 2 (LAPD) and layer 3
// (Q.931) with the application as layer 4. In NT mode the application runs
// layers 2 and 3 itself (isdn_net.h) and exchanges PH_DATA frames with the
// device. Ids: the D-channel stack of port p is p << 8; layer n of a stack
// is stack | n; the B-channel stacks are FLG_CHILD_STACK | (b << 16) | p << 8
// for b = 1.. . Frames for a layer go up to the device that registered it.
//
// Results follow the system calls: >= 0 on success, -1 with errno set.
#pragma once
#include <cstdint>

#include "misdn_frame.h"

// Opens a device handle (>= 1); -1 when the ports cannot be started
// (TARN_MISDN_SIM unset or unreadable, a socket that cannot be bound).
int mISDN_open(void);
int mISDN_close(int fid);

// Writes one frame (head + data, len octets); returns len or -1.
int mISDN_write(int fid, const void *buf, int len, int timeout);
// Builds and writes one frame; fbuf is not needed and may be null.
int mISDN_write_frame(int fid, void *fbuf, uint32_t addr, uint32_t prim, int dinfo, int dlen,
                      const void *dbuf, int timeout);
// Reads the next frame into buf; returns its length (head + data), 0 when
// none came within timeout microseconds (negative: wait for ever), -1 on
// error (EMSGSIZE: buf too small, the frame is dropped).
int mISDN_read(int fid, void *buf, int size, int timeout);
// Reads the next frame with this address and primitive, leaving others
// queued; its length, or -1 (ETIMEDOUT) when none came in time.
int mISDN_read_frame(int fid, void *buf, int size, uint32_t addr, uint32_t prim, int timeout);

// Number of D-channel stacks: the highest port number described.
int mISDN_get_stack_count(int fid);
// Writes the port's stack_info_t at the start of buf; -1 (ENODEV) for a
// port not described, -1 (EINVAL) when size is too small.
int mISDN_get_stack_info(int fid, int port, void *buf, int size);
// Adds a layer to stack li->st at the layer its layermask (or protocol)
// names; li->id receives the layer id. 0 or -1.
int mISDN_new_layer(int fid, layer_info_t *li);
int mISDN_register_layer(int fid, uint32_t stid, uint32_t layer_id);
// Id of layer `layer` of a stack; -1 when the stack has no such layer.
int mISDN_get_layerid(int fid, uint32_t stid, int layer);
// Sets the protocols of a B-channel stack; a MGR_SETSTACK indication follows.
int mISDN_set_stack(int fid, uint32_t stid, const mISDN_pid_t *pid);
// Waits up to one second for the MGR_SETSTACK indication of the stack.
int mISDN_get_setstack_ind(int fid, uint32_t address);
