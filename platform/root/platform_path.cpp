#include "platform_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

std::string platform_config_path(const char *path)
{
    if (!path || path[0] != '/')
        return path ? path : "";
    std::string root(platform_root());
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    size_t n = root.size();
    if (n && strncmp(path, root.c_str(), n) == 0 && (path[n] == '/' || path[n] == '\0'))
        return path;
    return platform_path(path);
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
