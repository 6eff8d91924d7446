#include "msp_resource.h"

#include <array>
#include <cstring>

#include "csm_log.h"
#include "log.h"
#include "msp_manager.h"

namespace {

constexpr int X = MSP_COST_IMPOSSIBLE;

// Columns of the cost rows.
enum cost_column { C82501, C82505, C82510, C82511, C82515, C82520, C82530, COST_COLUMNS };

struct cost_row {
    int type;
    const char *name;
    int cost[COST_COLUMNS]; // units on 82501, 82505, 82510, 82511, 82515, 82520, 82530
};

constexpr cost_row cost_rows[MSPRES_LAST_VALUE] = {
    {MSPRES_G711_20, "g711_20", {15, 15, 15, 15, 15, 15, 15}},
    {MSPRES_G711_10, "g711_10", {15, 15, 15, 15, 15, 20, 20}},
    {MSPRES_G711_5, "g711_5", {15, 15, 30, 30, 30, 30, 30}},
    {MSPRES_G726_20, "g726_20", {60, 60, 60, 60, 30, 60, 30}},
    {MSPRES_G726_10, "g726_10", {60, 60, 60, 60, 40, 60, 30}},
    {MSPRES_G726_5, "g726_5", {60, 60, 60, 60, 40, 60, 30}},
    {MSPRES_G729a, "g729a", {60, 60, 60, 60, 30, 60, 30}},
    {MSPRES_G723_1, "g723_1", {60, 60, 60, 60, 40, 60, 30}},
    {MSPRES_G728, "g728", {X, X, X, X, X, X, X}},
    {MSPRES_G729e, "g729e", {60, 60, 120, 120, 80, 80, 48}},
    {MSPRES_ILBC, "iLBC", {60, 60, 80, 80, 60, 80, 48}},
    {MSPRES_GSM_FR, "gsm_fr", {60, 60, 60, 60, 40, 80, 30}},
    {MSPRES_GSM_EFR, "gsm_efr", {X, X, X, X, X, X, X}},
    {MSPRES_GSM_AMR, "gsm_amr", {60, 60, 60, 60, 60, 80, 40}},
    {MSPRES_CDMA_EVRC, "cdma_evrc", {X, X, X, X, X, X, X}},
    {MSPRES_CDMA_QCELP8, "cdma_qcelp8", {X, X, X, X, X, X, X}},
    {MSPRES_CDMA_QCELP13, "cdma_qcelp13", {X, X, X, X, X, X, X}},
    {MSPRES_SMV, "smv", {X, X, X, X, X, X, X}},
    {MSPRES_T38, "t38", {60, 60, 60, 60, 30, 120, 60}},
    {MSPRES_CONFERENCING, "conferencing", {120, 120, 120, 120, 40, 120, 60}},
    {MSPRES_G711_20_TRANSCODE_LEG, "g711_20_transcode_leg", {X, X, X, X, X, X, X}},
    {MSPRES_G726_20_TRANSCODE_LEG, "g726_20_transcode_leg", {X, X, X, X, X, X, X}},
    {MSPRES_G729a_TRANSCODE_LEG, "g729a_transcode_leg", {X, X, X, X, X, X, X}},
    {MSPRES_G723_1_TRANSCODE_LEG, "g723_1_transcode_leg", {X, X, X, X, X, X, X}},
    {MSPRES_GSM_AMR_TRANSCODE_LEG, "gsm_amr_transcode_leg", {X, X, X, X, X, X, X}},
    {MSPRES_CDMA_EVRC_TRANSCODE_LEG, "cdma_evrc_transcode_leg", {X, X, X, X, X, X, X}},
    {MSPRES_TDM_HAIRPINNING, "tdm_hairpinning", {15, 15, 15, 15, 10, 15, 15}},
    {MSPRES_TDM_HAIRPINNING_GUARANTEED, "tdm_hairpinning_guaranteed", {15, 15, 15, 15, 10, 15, 15}},
};

constexpr std::array<int, MSPRES_LAST_VALUE> column(int c)
{
    std::array<int, MSPRES_LAST_VALUE> a{};
    for (int t = 0; t < MSPRES_LAST_VALUE; t++)
        a[t] = cost_rows[t].cost[c];
    return a;
}

} // namespace

constexpr std::array<int, MSPRES_LAST_VALUE> cost_82501 = column(C82501);
constexpr std::array<int, MSPRES_LAST_VALUE> cost_82505 = column(C82505);
constexpr std::array<int, MSPRES_LAST_VALUE> cost_82510 = column(C82510);
constexpr std::array<int, MSPRES_LAST_VALUE> cost_82511 = column(C82511);
constexpr std::array<int, MSPRES_LAST_VALUE> cost_82515 = column(C82515);
constexpr std::array<int, MSPRES_LAST_VALUE> cost_82520 = column(C82520);
constexpr std::array<int, MSPRES_LAST_VALUE> cost_82530 = column(C82530);
const int *const channel_cost_msp_82501 = cost_82501.data();
const int *const channel_cost_msp_82505 = cost_82505.data();
const int *const channel_cost_msp_82510 = cost_82510.data();
const int *const channel_cost_msp_82511 = cost_82511.data();
const int *const channel_cost_msp_82515 = cost_82515.data();
const int *const channel_cost_msp_82520 = cost_82520.data();
const int *const channel_cost_msp_82530 = cost_82530.data();

const int msp_arch_channel_resources[16] = {240, 480, 480, 960, 960, 960, 960, 1920, 1920, 1920,
                                            0,   0,   0,   0,   0,   0};

namespace {

constexpr std::array<const char *, 32> resource_names()
{
    std::array<const char *, 32> a{};
    for (int t = 0; t < MSPRES_LAST_VALUE; t++)
        a[t] = cost_rows[t].name;
    a[28] = "last_action";
    a[29] = "unused";
    a[30] = "left_reserved";
    a[31] = "right_reserved";
    return a;
}

constexpr bool rows_in_type_order()
{
    for (int t = 0; t < MSPRES_LAST_VALUE; t++)
        if (cost_rows[t].type != t)
            return false;
    return true;
}
static_assert(rows_in_type_order(), "one cost row per type, in type order");

constexpr std::array<const char *, 32> names = resource_names();

} // namespace

const char *const *const msp_resource_names = names.data();

namespace {

const char *const arch_names[10] = {"MSP_M82501", "MSP_M82505", "MSP_M82506", "MSP_M82510",
                                    "MSP_M82511", "MSP_M82514", "MSP_M82515", "MSP_M82520",
                                    "MSP_M82524", "MSP_M82530"};

const char *const state_names[] = {"MSP_VOICE_ACTIVE",    "MSP_TONEGEN_ACTIVE",
                                   "MSP_BRIDGED",         "MSP_T38_ACTIVE",
                                   "MSP_REMOTE_BRIDGED",  "MSP_HDLC_ACTIVE",
                                   "MSP_MFSIGNALLING_ACTIVE"};

// Processor ids of the device-type answer.
struct processor_row {
    int processor_id;
    int model;
    const int *costs; // null: the model is recorded but cannot be used
};

const processor_row processor_rows[] = {
    {1, MSP_M82530, cost_82530.data()},
    {2, MSP_M82520, cost_82520.data()},
    {3, MSP_M82510, cost_82510.data()},
    {4, MSP_M82505, cost_82505.data()},
    {10, MSP_M82515, cost_82515.data()},
    {11, MSP_M82511, cost_82511.data()},
    {13, MSP_M82501, cost_82501.data()},
    {12, MSP_M82506, nullptr},
    {14, MSP_M82514, nullptr},
    {15, MSP_M82524, nullptr},
};

bool valid_type(int type)
{
    return type >= 0 && type < MSPRES_LAST_VALUE;
}

int cost(int type)
{
    if (!valid_type(type))
        return 0;
    const int *table = cman && cman->msp_channel_cost_table ? cman->msp_channel_cost_table
                                                            : cost_82501.data();
    return table[type];
}


bool has(int field, int bit)
{
    return ((unsigned)field >> bit) & 1u;
}

const char *type_name(int type)
{
    return valid_type(type) ? msp_resource_names[type] : "none";
}

// The units a resource field holds: the difference of its two types for a
// partial reservation, else the sum of its types. With log_release each
// type given back is logged.
int field_units(int field, bool log_release, const char *tag)
{
    bool left_marked = has(field, MSPRES_LEFT_RESERVED);
    if (left_marked || has(field, MSPRES_RIGHT_RESERVED)) {
        // left is the higher type, right the lower; the marked one was requested.
        int left = -1, right = -1;
        msp_get_resource_types_from_field(field, &left, &right);
        int requested = left_marked ? left : right;
        int active = left_marked ? right : left;
        if (log_release)
            LOGD(MSP, 9, tag, "releasing %s (minus %s)", type_name(requested), type_name(active));
        return cost(requested) - cost(active);
    }
    int sum = 0;
    for (int t = 0; t < MSPRES_LAST_VALUE; t++) {
        if (!has(field, t))
            continue;
        if (log_release)
            LOGD(MSP, 9, tag, "releasing %s", msp_resource_names[t]);
        sum += cost(t);
    }
    return sum;
}

int names_to_buffer(int field, char *buffer, size_t size)
{
    if (!buffer || size == 0)
        return 0;
    size_t used = strnlen(buffer, size);
    for (int t = 0; t < MSPRES_LAST_VALUE && used + 1 < size; t++) {
        if (!has(field, t))
            continue;
        int n = snprintf(buffer + used, size - used, "%s%s", used ? "," : "", msp_resource_names[t]);
        if (n < 0)
            break;
        used += (size_t)n < size - used ? (size_t)n : size - used - 1;
    }
    return 0;
}

} // namespace

void msp_init_resources()
{
    if (!cman)
        return;
    cman->msp_arch = MSP_M82501;
    cman->msp_channel_cost_table = cost_82501.data();
    cman->msp_max_channels = msp_arch_channel_resources[MSP_M82501];
    cman->msp_free_channels = cman->msp_max_channels;
}

int msp_set_processor_type(int processor_id)
{
    if (!cman)
        return -1;
    for (const processor_row &r : processor_rows) {
        if (r.processor_id != processor_id)
            continue;
        cman->msp_arch = r.model;
        if (!r.costs)
            return -1;
        cman->msp_channel_cost_table = r.costs;
        cman->msp_max_channels = msp_arch_channel_resources[r.model];
        cman->msp_free_channels = cman->msp_max_channels;
        return 0;
    }
    return -1;
}

int msp_request_resource(void *context, int *resource_field, int type)
{
    msp_call_tag tag(context);
    if (!cman || !resource_field || !valid_type(type))
        return -1;
    if (*resource_field) {
        LOGD(MSP, 0, tag.text, "CRITICAL: MSP resource already allocated");
        return -1;
    }
    int need = cost(type);
    int before = cman->msp_free_channels;
    if (before - need >= 0) {
        LOGD(MSP, 9, tag.text, "requesting %s: success: before %i | needed %i | now %i",
             msp_resource_names[type], before, need, before - need);
        *resource_field |= 1 << type;
        cman->msp_free_channels = before - need;
        return 0;
    }
    LOGD(MSP, 9, tag.text, "requesting %s: failed: having %i | needed %i", msp_resource_names[type],
         before, need);
    return -1;
}

int msp_request_partial_resource(void *context, int *reserve_field, int *active_field,
                                 int requested_type)
{
    msp_call_tag tag(context);
    if (!cman || !reserve_field || !active_field || !valid_type(requested_type))
        return -1;
    if (*reserve_field)
        return -1;
    if (has(*active_field, requested_type))
        return 0;
    int active = msp_get_resource_type_from_field(*active_field);
    int active_cost = active < 0 ? 0 : cost(active);
    int requested_cost = cost(requested_type);
    if (requested_cost <= active_cost)
        return 0;
    int extra = requested_cost - active_cost;
    if (cman->msp_free_channels - extra < 0)
        return -1;
    int field = 1 << requested_type;
    if (active >= 0)
        field |= 1 << active;
    // The marker names the side of the requested type: left when it is the
    // higher type, right when it is the lower one or the only one.
    bool requested_higher = active >= 0 && requested_type > active;
    field |= (int)(requested_higher ? 1u << MSPRES_LEFT_RESERVED : 1u << MSPRES_RIGHT_RESERVED);
    *reserve_field = field;
    cman->msp_free_channels -= extra;
    return 0;
}

int msp_release_all_resources(void *context, int *resource_field)
{
    msp_call_tag tag(context);
    if (!resource_field)
        return 0;
    int units = field_units(*resource_field, true, tag.text);
    if (cman)
        cman->msp_free_channels += units;
    *resource_field = 0;
    return 0;
}

int msp_get_resource_usage(int resource_field)
{
    return field_units(resource_field, false, nullptr);
}

int msp_get_channel_usage()
{
    return cman ? cman->msp_max_channels - cman->msp_free_channels : 0;
}

int msp_get_total_channels()
{
    return cman ? cman->msp_max_channels : 0;
}

int msp_get_free_channels()
{
    return cman ? cman->msp_free_channels : 0;
}

int msp_get_resource_type_from_field(int field)
{
    for (int t = 0; t < MSPRES_LAST_VALUE; t++)
        if (has(field, t))
            return t;
    return -1;
}

int msp_get_resource_types_from_field(int field, int *left, int *right)
{
    int l = -1, r = -1;
    for (int t = 0; t < MSPRES_LAST_VALUE; t++) {
        if (!has(field, t))
            continue;
        if (r < 0) {
            r = t;
        } else {
            l = t;
            break;
        }
    }
    if (left)
        *left = l;
    if (right)
        *right = r;
    if (l < 0) {
        LOGD(MSP, 0, nullptr, "CRITICAL: Something went wrong");
        return -1;
    }
    return 0;
}

int msp_active_resource_to_buffer(int field, char *buffer, size_t size)
{
    return names_to_buffer(field, buffer, size);
}

int msp_reserved_resource_to_buffer(int field, char *buffer, size_t size)
{
    return names_to_buffer(field, buffer, size);
}

int msp_print_used_resources(FILE *stream, int field)
{
    if (!stream)
        return 0;
    int channels = 0;
    for (int t = 0; t < MSPRES_LAST_VALUE; t++) {
        if (!has(field, t))
            continue;
        fprintf(stream, "%s (%.3f msp channels)\n", msp_resource_names[t],
                cost(t) / (double)MSP_UNITS_PER_CHANNEL);
        channels += cost(t) / MSP_UNITS_PER_CHANNEL;
    }
    fprintf(stream, "Call object MSP-channel usage: %.3f channels\n", (double)channels);
    return 0;
}

int msp_print_flags_to_buffer(char *buffer, size_t size, unsigned state)
{
    if (!buffer || size == 0)
        return -1;
    size_t used = 0;
    buffer[0] = '\0';
    for (unsigned b = 0; b < sizeof state_names / sizeof state_names[0]; b++) {
        if (!(state & (1u << b)))
            continue;
        int n = snprintf(buffer + used, size - used, "%s%s", used ? "|" : "", state_names[b]);
        if (n < 0 || (size_t)n >= size - used)
            return -1;
        used += (size_t)n;
    }
    return (int)used;
}

void msp_print_flags(FILE *stream, unsigned state)
{
    if (!stream)
        return;
    char text[256];
    if (msp_print_flags_to_buffer(text, sizeof text, state) < 0)
        text[0] = '\0';
    fprintf(stream, "%s\n", text);
}

const char *msp_print_processor_id()
{
    int arch = cman ? cman->msp_arch : MSP_M82501;
    return arch >= 0 && arch < 10 ? arch_names[arch] : "MSP_UNKNOWN";
}
