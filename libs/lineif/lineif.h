// Access to the line-interface drivers: their sysfs files (short decimal or
// word texts) and their character devices. Every path given here is a board
// path ("/sys/class/...", "/dev/...") and is opened through platform_path().
#pragma once
#include <cstddef>

// Reads at most size-1 bytes of a file into buf, NUL-terminated.
// Returns the byte count, or -1 with errno from open/read (buf then "").
int lineif_read_text(const char *path, char *buf, size_t size);

// Reads the file's leading decimal number. 0 on success, -1 with errno
// (ENODATA for an empty or non-numeric file).
int lineif_read_int(const char *path, int *value);

// Writes text to an existing file (no create, no truncation beyond what the
// driver does). Returns the bytes written; -1 with errno EACCES when the file
// cannot be opened for writing, EBUSY when nothing could be written.
int lineif_write_text(const char *path, const char *text);

// Opens a device or file read-only / write-only without becoming its
// controlling terminal. Returns the descriptor or -1 with errno.
int lineif_open(const char *path, int flags);

// The module type text of line-interface slot li (0..2) from
// "/sys/class/quilmar/li%d/module", at most 32 characters. -1 when unreadable.
int lineif_module_text(int li, char *buf, size_t size);

// Whether the file exists under the path root.
bool lineif_exists(const char *path);
