#include "route_list.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>


route_list routes;

namespace {

void clear_routes()
{
    for (int i = 0; i < routes.count; i++) {
        free(routes.routes[i].iface);
        routes.routes[i].iface = nullptr;
    }
    routes.count = 0;
}

// The columns of one line, split at runs of blanks.
std::vector<std::string> columns(const char *line)
{
    std::vector<std::string> cols;
    std::string cur;
    for (const char *p = line;; p++) {
        if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\0') {
            if (!cur.empty())
                cols.push_back(cur);
            cur.clear();
            if (!*p)
                break;
        } else {
            cur += *p;
        }
    }
    return cols;
}

bool hex_value(const std::string &text, uint32_t *out)
{
    std::string number = "0x" + text;
    char *end = nullptr;
    unsigned long v = strtoul(number.c_str(), &end, 16);
    if (!end || *end || text.empty() || text.size() > 8)
        return false;
    *out = (uint32_t)v;
    return true;
}

} // namespace

int init_route_list()
{
    // /proc/net is the process's own network view (/proc/self/net), the
    // same one the look-ups send on, so it is never put under the root.
    return read_route_list("/proc/net/route");
}

int read_route_list(const char *path)
{
    clear_routes();
    FILE *f = fopen(path, "r");
    if (!f) {
        fprintf(stderr, "Failed opening /proc/net/route!\n");
        return -1;
    }
    char line[512];
    if (!fgets(line, sizeof line, f)) { // the column titles
        fclose(f);
        return -1;
    }
    while (fgets(line, sizeof line, f)) {
        // A line longer than the buffer: the rest of it is not another line.
        if (!strchr(line, '\n')) {
            int c;
            while ((c = fgetc(f)) != EOF && c != '\n') {
            }
        }
        std::vector<std::string> cols = columns(line);
        route_list_element e = {};
        // A line without the columns the lookup needs is passed over.
        if (cols.size() < 8 || !hex_value(cols[1], &e.destination_net) ||
            !hex_value(cols[2], &e.gateway) || !hex_value(cols[7], &e.net_mask))
            continue;
        e.iface = strdup(cols[0].c_str());
        if (!e.iface)
            break;
        routes.routes[routes.count] = e;
        if (++routes.count == ROUTE_LIST_SIZE) {
            fprintf(stderr, "not allowing more than 20 route entries, ignoring the rest\n");
            break;
        }
    }
    fclose(f);
    return 0;
}

const route_list_element *route_for(uint32_t target)
{
    // The most specific route that holds the target, the first of equals:
    // the kernel lists the default route ahead of the networks it knows.
    const route_list_element *best = nullptr;
    for (int i = 0; i < routes.count; i++) {
        const route_list_element &r = routes.routes[i];
        if ((target & r.net_mask) != r.destination_net)
            continue;
        if (!best || ntohl(r.net_mask) > ntohl(best->net_mask))
            best = &r;
    }
    return best;
}
