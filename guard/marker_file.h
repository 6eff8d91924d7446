/* Marker files that the maintenance tools leave under /tmp. */
#ifndef GUARD_MARKER_FILE_H
#define GUARD_MARKER_FILE_H

#ifdef __cplusplus
extern "C" {
#endif

#define MARKER_FLASH_MODE "/tmp/flashmode.active"
#define MARKER_FW_UPDATE "/tmp/fwupdate.active"
#define MARKER_RECOVERY "/tmp/enable_recovery"

/* 1 when path opens without following a symbolic link and without blocking
 * and is a regular file owned by user 0; else 0. */
int is_root_marker_file(const char *path);

#ifdef __cplusplus
}
#endif

#endif
