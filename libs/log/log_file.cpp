// Size-limited log files with numbered generations (debug and nmessage log).
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log_backend.h"
#include "log_private.h"

// Moves list[i] to list[i + 1] from the second-last name down to the first;
// the last generation is overwritten.
static void shift_generations(char **list, int count)
{
    for (int i = count - 2; i >= 0; i--)
        if (access(list[i], F_OK) == 0)
            rename(list[i], list[i + 1]);
}

static void open_current(log_rotation &r)
{
    shift_generations(r.list, r.count);
    r.fp = fopen(r.list[0], "w");
    if (!r.fp)
        fprintf(stderr, r.fail_format, r.list[0]);
    else // room for the longest line, so that its flush is one write
        setvbuf(r.fp, nullptr, _IOFBF, 8192);
}

void log_rotation_write(log_rotation r, const char *line, size_t len)
{
    if (!r.fp && r.count >= 1)
        open_current(r);
    if (!r.fp)
        return;
    // Each line goes out whole as it is written: a crash leaves a file that
    // ends with the last line logged, never a line cut at a buffer's edge.
    fwrite(line, 1, len, r.fp);
    fflush(r.fp);
    if (ftell(r.fp) > r.limit) {
        fclose(r.fp);
        r.fp = nullptr;
        open_current(r);
    }
}

log_rotation log_debug_rotation()
{
    log_backend_state *b = log_backend();
    return {b->logrotate_list, b->logrotate_listcount, b->logrotate_fp, b->logsizelimit,
            "failed opening logfile %s for writing\n"};
}

log_rotation log_nmessage_rotation()
{
    log_backend_state *b = log_backend();
    return {b->nlogrotate_list, b->nlogrotate_listcount, b->nlogrotate_fp, b->nlogsizelimit,
            "failed opening nlogfile %s for writing\n"};
}

static void replace_list(char **&list, int &count, const char *names)
{
    std::vector<std::string> items;
    std::string cur;
    for (const char *p = names ? names : "";; p++) {
        if (*p == ',' || *p == '\0') {
            if (!cur.empty())
                items.push_back(cur);
            cur.clear();
            if (*p == '\0')
                break;
        } else {
            cur += *p;
        }
    }
    char **fresh = items.empty() ? nullptr : (char **)calloc(items.size(), sizeof(char *));
    if (!items.empty() && !fresh)
        return;
    for (size_t i = 0; i < items.size(); i++) {
        fresh[i] = strdup(items[i].c_str());
        if (!fresh[i]) {
            for (size_t j = 0; j < i; j++)
                free(fresh[j]);
            free(fresh);
            return;
        }
    }

    pthread_mutex_t *m = log_fp_lock();
    pthread_mutex_lock(m);
    char **old = list;
    int old_count = count;
    list = fresh;
    count = (int)items.size();
    pthread_mutex_unlock(m);

    for (int i = 0; i < old_count; i++)
        free(old[i]);
    free(old);
}

void update_logrotate_list(const char *names)
{
    log_backend_state *b = log_backend();
    replace_list(b->logrotate_list, b->logrotate_listcount, names);
}

void update_nlogrotate_list(const char *names)
{
    log_backend_state *b = log_backend();
    replace_list(b->nlogrotate_list, b->nlogrotate_listcount, names);
}

void rotate_logfiles()
{
    log_backend_state *b = log_backend();
    if (b->logrotate_listcount >= 2)
        shift_generations(b->logrotate_list, b->logrotate_listcount);
}

void rotate_nlogfiles()
{
    log_backend_state *b = log_backend();
    if (b->nlogrotate_listcount >= 2)
        shift_generations(b->nlogrotate_list, b->nlogrotate_listcount);
}
