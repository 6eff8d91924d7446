#include "private_netns.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool enter_private_mounts(std::string *why)
{
    if (geteuid() != 0) {
        *why = "needs root";
        return false;
    }
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        *why = std::string("private mount namespace: ") + strerror(errno);
        return false;
    }
    for (const char *dir : {"/tmp", "/run"})
        if (mount("tmpfs", dir, "tmpfs", 0, "mode=1777") != 0) {
            *why = std::string("tmpfs on ") + dir + ": " + strerror(errno);
            return false;
        }
    return true;
}

static int loopback_up()
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0)
        return -1;
    ifreq ifr{};
    snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "lo");
    int rc = ioctl(s, SIOCGIFFLAGS, &ifr);
    if (rc == 0) {
        ifr.ifr_flags |= IFF_UP;
        rc = ioctl(s, SIOCSIFFLAGS, &ifr);
    }
    close(s);
    return rc;
}

bool enter_private_network(std::string *why)
{
    if (unshare(CLONE_NEWNET) != 0 || loopback_up() != 0) {
        *why = std::string("new network namespace: ") + strerror(errno);
        return false;
    }
    return true;
}

process_result run_in_new_netns(const std::function<int()> &body, int timeout_s)
{
    return run_forked(
        [&body]() {
            std::string why;
            if (!enter_private_network(&why)) {
                fprintf(stderr, "%s\n", why.c_str());
                return 125;
            }
            return body();
        },
        timeout_s);
}
