// Every fixed absolute path of the board (/usr/conf, /tmp, /var/log, /sys/class,
// /dev, /proc/cmdline ...) is opened through platform_path(): with TARN_ROOT set
// in the environment its value is put in front, unset the path is used as is.
// /proc/self, /proc/uptime and /proc/<pid> are the real ones and bypass it.
#pragma once
#include <cstddef>
#include <string>

// The path under the root, as a new string.
std::string platform_path(const char *path);

// The same into a caller's buffer; returns 0, or -1 when it does not fit
// (the buffer then holds an empty string).
int platform_path_buf(const char *path, char *out, size_t size);

// A path taken from the configuration: a board path (absolute) goes below
// the root like platform_path(), unless it already lies below the root (a
// path written for this machine is not prefixed twice); a relative path is
// used as given.
std::string platform_config_path(const char *path);

// The root in force ("" when TARN_ROOT is unset).
const char *platform_root();
