// Arbitrary text as a dial plan file: loaded (twice, so a reload replaces
// a table), every element copied and released. A small stand-in answers
// for the SIP port group "peer" so group sources and proxies are reached.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "application.h"
#include "dialplan.h"

namespace {

std::string workdir, path;
char group_peer;

port_group_sip *group(const char *name, int *user_index)
{
    *user_index = -1;
    if (strlen(name) > 2 && name[1] == ':')
        name += 2;
    return strcmp(name, "peer") == 0 || strcmp(name, "__local__") == 0 ? (port_group_sip *)&group_peer : nullptr;
}
proxy_def *inbound(port_group_sip *, int) { return (proxy_def *)strdup("in"); }
proxy_def *outbound(const char *id) { return (proxy_def *)strdup(id); }
proxy_def *clone(const proxy_def *pd) { return (proxy_def *)strdup((const char *)pd); }
void release(proxy_def *pd) { free(pd); }

void cleanup()
{
    unlink(path.c_str());
    rmdir(workdir.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    application_create();
    init_locks();
    char tmpl[] = "/tmp/tarn-fuzz-dialplan.XXXXXX";
    if (!mkdtemp(tmpl))
        abort();
    workdir = tmpl;
    path = workdir + "/tarn.dialplan";
    atexit(cleanup);
    dialplan_sip_iface sip = {group, inbound, outbound, clone, release};
    dialplan_set_sip_iface(&sip);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        abort();
    if (size)
        fwrite(data, 1, size, f);
    fclose(f);
    for (int round = 0; round < 2; round++) {
        dialplan_load(path.c_str());
        for (int i = 0; i < gp->dialplan_size; i++) {
            dialplan_element *c = dialplan_clone_element(&gp->dialplan[i]);
            dialplan_cleanup_element(c);
            free(c);
        }
    }
    return 0;
}
