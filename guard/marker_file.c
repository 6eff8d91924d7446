#include "marker_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int is_root_marker_file(const char *path)
{
    struct stat st;
    int ok;
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);

    if (fd < 0)
        return 0;
    ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == 0;
    close(fd);
    return ok;
}
