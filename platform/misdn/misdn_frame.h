// Frames exchanged with the ISDN device: the frame head, the primitive codes,
// the address flags, and the records the device fills for stacks and layers.
//
// A frame is a head of four 32-bit words (address, primitive, dinfo, length)
// followed by `len` octets of data. Primitive = layer/kind code | command,
// the command being one of REQUEST, CONFIRM, INDICATION, RESPONSE.
#pragma once
#include <cstdint>

typedef struct misdn_iframe {
    uint32_t addr;
    uint32_t prim;
    int32_t dinfo;
    int32_t len;
    union {
        uint8_t b[1];
        int32_t i;
    } data;
} iframe_t;

enum { mISDN_HEADER_LEN = 16 };  // octets of the frame head
enum { MAX_DFRAME_LEN = 2064, MAX_FRAME_SIZE = mISDN_HEADER_LEN + MAX_DFRAME_LEN };

// Time-outs of the device calls are in microseconds; negative waits for ever.
enum { TIMEOUT_1SEC = 1000000, TIMEOUT_10SEC = 10000000, TIMEOUT_INFINIT = -1 };

// Command part of a primitive.
inline constexpr uint32_t REQUEST = 0x80;
inline constexpr uint32_t CONFIRM = 0x81;
inline constexpr uint32_t INDICATION = 0x82;
inline constexpr uint32_t RESPONSE = 0x83;

// Layer and kind part of a primitive (bits 8..23).
inline constexpr uint32_t PH_CONTROL = 0x000200;
inline constexpr uint32_t PH_DEACTIVATE = 0x010000;
inline constexpr uint32_t PH_ACTIVATE = 0x010100;
inline constexpr uint32_t PH_DATA = 0x110200;
inline constexpr uint32_t DL_RELEASE = 0x020000;
inline constexpr uint32_t DL_ESTABLISH = 0x020100;
inline constexpr uint32_t DL_DATA = 0x120200;
inline constexpr uint32_t DL_UNITDATA = 0x120300;
inline constexpr uint32_t CC_NEW_CR = 0x03F000;
inline constexpr uint32_t CC_RELEASE_CR = 0x03F100;
inline constexpr uint32_t MGR_NEWENTITY = 0x0F0600;
inline constexpr uint32_t MGR_DELENTITY = 0x0F0700;
inline constexpr uint32_t MGR_SETSTACK = 0x0F1400;
inline constexpr uint32_t MGR_CLEARSTACK = 0x0F1500;
inline constexpr uint32_t MGR_DELLAYER = 0x0F2400;
inline constexpr uint32_t MGR_INITTIMER = 0x0F8100;
inline constexpr uint32_t MGR_ADDTIMER = 0x0F8200;
inline constexpr uint32_t MGR_DELTIMER = 0x0F8300;
inline constexpr uint32_t MGR_REMOVETIMER = 0x0F8400;
inline constexpr uint32_t MGR_TIMER = 0x0F8800;
inline constexpr uint32_t MGR_SHORTSTATUS = 0x0FE600;

// Layer-3 (Q.931) primitives: 0x03MM00 with MM the message type octet.
static inline uint32_t cc_prim(uint8_t mt) { return 0x030000u | ((uint32_t)mt << 8); }
static inline bool prim_is_cc(uint32_t prim) { return (prim & 0xFF0000u) == 0x030000u; }
static inline uint8_t cc_prim_mt(uint32_t prim) { return (uint8_t)((prim >> 8) & 0xFF); }
// Layer-3 time-out indication (message type 0xFF, no Q.931 message).
enum { MT_L3_TIMEOUT = 0xFF };

// Address flags (bits 24..27) and address masks.
inline constexpr uint32_t FLG_MSG_DOWN = 0x01000000;
inline constexpr uint32_t FLG_MSG_CLONED = 0x02000000;
inline constexpr uint32_t FLG_MSG_BROADCAST = 0x03000000;  // down and cloned: to every layer of the stack
inline constexpr uint32_t FLG_MSG_TARGET = 0x04000000;
inline constexpr uint32_t FLG_CHILD_STACK = 0x10000000;    // a B-channel (child) stack
inline constexpr uint32_t STACK_ID_MASK = 0x30FFFF00;      // the bits that name a stack
inline constexpr uint32_t LAYER_ID_MASK = 0x000000FF;      // the layer number within a stack

// Short status (dinfo of MGR_SHORTSTATUS confirm/indication).
inline constexpr uint32_t SSTATUS_L1 = 0x01000000;
inline constexpr uint32_t SSTATUS_L2 = 0x02000000;
inline constexpr uint32_t SSTATUS_L1_DEACTIVATED = 0x01000000;
inline constexpr uint32_t SSTATUS_L1_ACTIVATED = 0x01000001;
inline constexpr uint32_t SSTATUS_L2_RELEASED = 0x02000000;
inline constexpr uint32_t SSTATUS_L2_ESTABLISHED = 0x02000001;
inline constexpr uint32_t SSTATUS_ALL = 0x0FFFFFFF;
inline constexpr uint32_t SSTATUS_BROADCAST_BIT = 0x10000000;

// Protocol words of the layers of a stack.
enum : int {
    ISDN_PID_NONE = 0,
    ISDN_PID_FEATURE_MASK = 0x00F00000,
    ISDN_PID_L0_TE_S0 = 0x00000001,
    ISDN_PID_L0_TE_E1 = 0x00000008,
    ISDN_PID_L0_NT_S0 = 0x00000100,
    ISDN_PID_L0_NT_E1 = 0x00000800,
    ISDN_PID_L1_TE_S0 = 0x01000001,
    ISDN_PID_L1_TE_E1 = 0x01000008,
    ISDN_PID_L1_NT_S0 = 0x01000100,
    ISDN_PID_L1_NT_E1 = 0x01000800,
    ISDN_PID_L2_LAPD = 0x02000001,
    ISDN_PID_L2_LAPD_NET = 0x02000002,
    ISDN_PID_L2_DF_PTP = 0x00100000,  // feature bit: point-to-point data link
    ISDN_PID_L3_DSS1USER = 0x03000001,
    ISDN_PID_L4_CAPI20 = 0x04000001,
    ISDN_PID_L1_B_64TRANS = 0x41000002,
    ISDN_PID_L2_B_TRANS = 0x42000002,
    ISDN_PID_L3_B_TRANS = 0x430000FF,
};

enum { MAX_LAYER_NR = 7, MAX_STACK_CHILD = 31, mISDN_NAME_LEN = 32 };

// Layer protocols of a stack (index = layer number).
typedef struct misdn_pid {
    int protocol[MAX_LAYER_NR + 1];
    int layermask;
} mISDN_pid_t;

// What mISDN_get_stack_info writes at the start of the caller's buffer.
typedef struct misdn_stack_info {
    uint32_t id;                 // stack id
    mISDN_pid_t pid;             // protocol of each layer
    int instcnt;                 // layers in the stack
    int childcnt;                // B-channel child stacks
    uint32_t child[MAX_STACK_CHILD];
} stack_info_t;

// Argument of mISDN_new_layer; `id` receives the new layer's id.
typedef struct misdn_layer_info {
    char name[mISDN_NAME_LEN];
    int object_id;
    int extentions;
    uint32_t id;
    uint32_t st;                 // stack id the layer belongs to
    mISDN_pid_t pid;
} layer_info_t;
