#include "application.h"

#include "dns_cache.h"

#include <cstdio>
#include <cstdlib>

application_object *gp = nullptr;
application_object *global_application_p = nullptr;

application_object *application_create()
{
    if (gp)
        return gp;
    // Lives as long as the process: threads read it until the very end.
    application_object *a = new application_object();
    a->dns_cache = dns_cache_create();
    gp = a;
    global_application_p = a;
    return a;
}

void init_locks()
{
    lock_manager *lm = lock_manager_create();
    if (gp)
        gp->locks = lm;
}

long get_proc_uptime_seconds()
{
    return read_uptime_seconds();
}

long read_uptime_seconds(const char *path)
{
    FILE *f = fopen(path, "r");
    if (!f)
        return 0;
    char line[128];
    long secs = 0;
    if (fgets(line, sizeof line, f))
        secs = strtol(line, nullptr, 10);
    fclose(f);
    return secs;
}
