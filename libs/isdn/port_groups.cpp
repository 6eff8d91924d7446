#include "port_groups.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "isdn_lib_intern.h"

misdn_port_group_settings isdn_port_group_settings = {nullptr, 0};

static void free_table(misdn_port_group_settings *t)
{
    for (int i = 0; i < t->count; i++) {
        free(t->chansel_settings[i].chansel_name);
        free(t->chansel_settings[i].chansel_ports);
        free(t->chansel_settings[i].chansel_channels);
    }
    free(t->chansel_settings);
    t->chansel_settings = nullptr;
    t->count = 0;
}

// Decimal port number of a list item; an empty or non-numeric item is 0.
static int port_item(const std::string &item)
{
    char *end = nullptr;
    long v = strtol(item.c_str(), &end, 10);
    if (end == item.c_str() || v < -1000 || v > 1000)
        return 0;
    return (int)v;
}

static void fill_group(misdn_chansel_settings *g, const std::string &name, const std::string &list)
{
    int n = 1;
    for (char c : list)
        n += c == ',';
    g->chansel_name = strdup(name.c_str());
    g->chansel_ports = (int *)calloc((size_t)n, sizeof(int));
    g->chansel_channels = (int *)calloc((size_t)n, sizeof(int));
    if (!g->chansel_name || !g->chansel_ports || !g->chansel_channels) {
        free(g->chansel_name);
        free(g->chansel_ports);
        free(g->chansel_channels);
        memset(g, 0, sizeof *g);
        return;
    }
    size_t start = 0;
    for (int k = 0; k < n; k++) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        g->chansel_ports[k] = port_item(item);
        g->chansel_channels[k] = 1;
        start = comma == std::string::npos ? list.size() : comma + 1;
    }
    g->chansel_number_of_ports = n;
    g->chansel_method = CHANSEL_STANDARD;
    g->chansel_direction = CHANSEL_DIRECTION_ASCENDING;
    g->chansel_current_index = 0;
    g->chansel_portpullup = 0;
}

int misdn_lib_init_port_groups(const char *port_group_string)
{
    free_table(&isdn_port_group_settings);
    std::string text = port_group_string ? port_group_string : "";
    int count = 0;
    for (char c : text)
        count += c == '(';
    if (!count)
        return 0;
    isdn_port_group_settings.chansel_settings =
        (misdn_chansel_settings *)calloc((size_t)count, sizeof(misdn_chansel_settings));
    if (!isdn_port_group_settings.chansel_settings)
        return 0;
    isdn_port_group_settings.count = count;
    int next = 0;
    size_t start = 0;
    while (start <= text.size() && next < count) {
        size_t semi = text.find(';', start);
        std::string piece = text.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        start = semi == std::string::npos ? text.size() + 1 : semi + 1;
        size_t open = piece.find('(');
        if (piece.empty() || open == std::string::npos)
            continue;
        if (piece.back() != ')') {
            // the text was cut inside this group: its port list is not whole
            cb_log(0, 0, -1, "port group text ends inside group '%s', group left out\n",
                   piece.substr(0, open).c_str());
            continue;
        }
        std::string list = piece.substr(open + 1, piece.size() - open - 2);
        fill_group(&isdn_port_group_settings.chansel_settings[next++], piece.substr(0, open), list);
    }
    return 0;
}

misdn_chansel_settings *misdn_lib_get_port_group_settings_by_name(const char *name)
{
    if (!name)
        return nullptr;
    for (int i = 0; i < isdn_port_group_settings.count; i++) {
        misdn_chansel_settings *g = &isdn_port_group_settings.chansel_settings[i];
        if (g->chansel_name && strcmp(g->chansel_name, name) == 0)
            return g;
    }
    return nullptr;
}

misdn_chansel_settings *misdn_lib_get_port_group_settings_by_port(int port)
{
    for (int i = 0; i < isdn_port_group_settings.count; i++) {
        misdn_chansel_settings *g = &isdn_port_group_settings.chansel_settings[i];
        for (int k = 0; g->chansel_name && k < g->chansel_number_of_ports; k++)
            if (g->chansel_ports[k] == port)
                return g;
    }
    return nullptr;
}

// Highest channel of a port: the start of a descending search.
static int highest_channel(const misdn_stack *stack)
{
    if (!stack || !stack->pri)
        return 2;
    return stack->t1 ? 24 : 31;
}

int misdn_lib_set_channel_selection(const char *port_group, int method, int direction)
{
    misdn_chansel_settings *g = misdn_lib_get_port_group_settings_by_name(port_group);
    if (!g)
        return -1;
    g->chansel_method = method;
    g->chansel_direction = direction;
    int n = g->chansel_number_of_ports;
    if (direction == CHANSEL_DIRECTION_DESCENDING) {
        g->chansel_current_index = n > 0 ? n - 1 : 0;
        for (int k = 0; k < n; k++)
            g->chansel_channels[k] = highest_channel(get_stack_by_isdn_port(g->chansel_ports[k]));
    } else {
        g->chansel_current_index = 0;
        for (int k = 0; k < n; k++)
            g->chansel_channels[k] = 1;
    }
    return 0;
}

int misdn_lib_set_port_pullup(const char *port_group, int value)
{
    misdn_chansel_settings *g = misdn_lib_get_port_group_settings_by_name(port_group);
    if (!g)
        return -1;
    g->chansel_portpullup = value;
    return 0;
}

// The random source of the random method, reseeded whenever the second changes.
static int random_number(void)
{
    static std::minstd_rand gen;
    static time_t seeded = (time_t)-1;
    time_t now = time(nullptr);
    if (now != seeded) {
        gen.seed((unsigned)now);
        seeded = now;
    }
    return (int)(gen() & 0x7FFFFFFF);
}

static bool port_filtered(int port, const unsigned char *blocked_ports, const unsigned char *allowed_ports)
{
    if (blocked_ports && port >= 0 && port < ISDN_BLOCKED_PORTS_MAP && blocked_ports[port])
        return true;
    if (allowed_ports && (port < 0 || port >= ISDN_ALLOWED_PORTS_MAP || !allowed_ports[port]))
        return true;
    return !get_stack_by_isdn_port(port);
}

static bool channel_in_use(const misdn_stack *stack, int channel)
{
    for (int i = 0; i < stack->b_num && i < MISDN_SLOTS; i++)
        if (stack->bc[i].in_use && stack->bc[i].channel == channel)
            return true;
    return false;
}

// A free slot of the stack, taken and prepared for the channel; null when none.
static misdn_bchannel *take_slot(misdn_stack *stack, int channel, int descending)
{
    misdn_bchannel *bc = nullptr;
    int n = stack->b_num < MISDN_SLOTS ? stack->b_num : MISDN_SLOTS;
    pthread_mutex_lock(&stack->channel_lock);
    for (int k = 0; k < n && !bc; k++) {
        int i = descending ? n - 1 - k : k;
        if (!stack->bc[i].in_use) {
            bc = &stack->bc[i];
            prepare_bc(bc, 0, 0);
        }
    }
    pthread_mutex_unlock(&stack->channel_lock);
    if (bc)
        prepare_bc(bc, channel_spender_get_behaviour(chan_mgr, stack->port) == CHANNEL_ANY ? 0 : channel, 0);
    return bc;
}

// One visit of port k of the group; the taken slot, or null. `note` marks
// the first visit (its port and start channel are noted), `revisit` the
// visit that comes back on that first port.
static misdn_bchannel *visit_port(misdn_chansel_settings *g, int k, bool note, int *first, int *first_start,
                                  int *ports_down, unsigned int allowed_channels,
                                  const unsigned char *blocked_ports, const unsigned char *allowed_ports, int desc,
                                  bool revisit)
{
    int port = g->chansel_ports[k];
    if (port_filtered(port, blocked_ports, allowed_ports))
        return nullptr;
    if (note) {
        *first = k;
        *first_start = g->chansel_channels[k];
    }
    misdn_stack *stack = get_stack_by_isdn_port(port);
    if (stack->blocked) {
        cb_log(0, port, -1, "Port is blocked\n");
        return nullptr;
    }
    if (!is_port_up(port, 1)) {
        if (ports_down)
            *ports_down = 1;
        cb_log(4, port, -1, "Port is not up\n");
        return nullptr;
    }
    const int d = channel_spender_get_dchannel(chan_mgr, port);
    const int end_up = stack->pri ? stack->b_num + 2 : stack->b_num + 1;
    int examined = 0;
    for (int ch = g->chansel_channels[k]; desc ? ch > 0 : ch < end_up; ch += desc ? -1 : 1) {
        if (revisit && examined && ch == *first_start)
            break;
        if (ch < 1 || (d > 0 && ch == d))
            continue;
        examined++;
        if (ch > 31 || channel_in_use(stack, ch) || !(allowed_channels & (1u << ch)))
            continue;
        misdn_bchannel *bc = take_slot(stack, ch, desc);
        if (!bc)
            continue;
        g->chansel_channels[k] = desc ? ch - 1 : ch + 1;
        g->chansel_current_index = k;
        return bc;
    }
    g->chansel_channels[k] = desc ? (stack->pri ? stack->b_num + 1 : stack->b_num) : 1;
    return nullptr;
}

misdn_bchannel *misdn_lib_get_free_bc_by_port_group(const char *port_group_name, int *ports_down,
                                                    unsigned int allowed_channels,
                                                    const unsigned char *blocked_ports,
                                                    const unsigned char *allowed_ports)
{
    misdn_chansel_settings *g = misdn_lib_get_port_group_settings_by_name(port_group_name);
    if (!g)
        return nullptr;
    if (!allowed_channels)
        allowed_channels = 0xFFFFFFFFu;
    const int n = g->chansel_number_of_ports;
    if (n <= 0 || !g->chansel_ports || !g->chansel_channels)
        return nullptr;
    if (g->chansel_current_index < 0 || g->chansel_current_index >= n)
        g->chansel_current_index = 0;
    const int desc = g->chansel_direction == CHANSEL_DIRECTION_DESCENDING;

    switch (g->chansel_method) {
    case CHANSEL_STANDARD:
        if (desc) {
            g->chansel_current_index = n - 1;
            g->chansel_channels[n - 1] = highest_channel(get_stack_by_isdn_port(g->chansel_ports[n - 1]));
        } else {
            g->chansel_current_index = 0;
            g->chansel_channels[0] = 1;
        }
        break;
    case CHANSEL_ROUNDROBIN:
        break;
    case CHANSEL_RANDOM: {
        int index = random_number() % n;
        misdn_stack *st = get_stack_by_isdn_port(g->chansel_ports[index]);
        g->chansel_current_index = index;
        if (st) {
            int span = !st->pri ? 2 : st->t1 ? 23 : 30;
            for (int k = 0; k < n; k++)
                g->chansel_channels[k] = desc ? highest_channel(get_stack_by_isdn_port(g->chansel_ports[k])) : 1;
            g->chansel_channels[index] = 1 + random_number() % span;
        }
        break;
    }
    default:
        goto none;
    }

    {
        // A port whose walk began past its first channel and found nothing is
        // walked once more from its first channel after all visits: channels
        // below a stored start are not lost when that port is not the first.
        std::vector<int> again;
        int first = -1, first_start = 0;
        for (int l = 0; l <= n; l++) {
            int k = desc ? (g->chansel_current_index + n - l) % n : (g->chansel_current_index + l) % n;
            int start = g->chansel_channels[k];
            misdn_bchannel *bc = visit_port(g, k, l == 0, &first, &first_start, ports_down, allowed_channels,
                                            blocked_ports, allowed_ports, desc, l > 0 && k == first);
            if (bc)
                return bc;
            misdn_stack *st = get_stack_by_isdn_port(g->chansel_ports[k]);
            if (st && start != g->chansel_channels[k] && k != first)
                again.push_back(k);
        }
        for (int k : again) {
            misdn_bchannel *bc = visit_port(g, k, false, &first, &first_start, nullptr, allowed_channels,
                                            blocked_ports, allowed_ports, desc, false);
            if (bc)
                return bc;
        }
    }
none:
    cb_log(0, 0, -1, "Couldn't get any free bc\n");
    cb_log(32, 0, -1, "misdn_lib_get_free_bc_by_port_group: Couldn't get any free bc");
    return nullptr;
}
