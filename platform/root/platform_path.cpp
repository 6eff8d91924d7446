#include "platform_path.h"

#include <cstdio>
#include <cstdlib>

const char *platform_root()
{
    const char *r = getenv("TARN_ROOT");
    return r ? r : "";
}

std::string platform_path(const char *path)
{
    std::string s(platform_root());
    // "/root/" + "/usr/conf" must not become "/root//usr/conf".
    while (!s.empty() && s.back() == '/')
        s.pop_back();
    s += path ? path : "";
    return s;
}

int platform_path_buf(const char *path, char *out, size_t size)
{
    if (!out || size == 0)
        return -1;
    std::string s = platform_path(path);
    if (s.size() + 1 > size) {
        out[0] = '\0';
        return -1;
    }
    snprintf(out, size, "%s", s.c_str());
    return 0;
}
