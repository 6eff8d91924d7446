#include "system_command.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "experimental_options.h"
#include "kvfwd.h"
#include "log.h"
#include "platform_path.h"

std::atomic<int> command_counter;
int syscall5_dir_checked;
int syscall_thread_counter;
pthread_t syscall_threads[SYSCALL_MAX_THREADS];
std::atomic<int> syscall_thread_active[SYSCALL_MAX_THREADS];
std::atomic<int> syscall_thread_done[SYSCALL_MAX_THREADS];
pthread_t syscall_thread;
int syscall_total_counter;
int syscall_failed_counter;

static const char *const MODE3_SCRIPT = "/tmp/tarn.syscallmode3.sh";
static const char *const MODE3_LOCK = "/tmp/tarn.syslock";
static const char *const MODE5_DIR = "/tmp/tarn.syscallmode5";

bool is_safe_ifname(const char *name)
{
    size_t n = name ? strlen(name) : 0;
    if (n == 0 || n > 15)
        return false;
    for (size_t i = 0; i < n; i++)
        if (!isalnum((unsigned char)name[i]) && name[i] != '.' && name[i] != '_' && name[i] != '-')
            return false;
    return true;
}

bool is_ipv4_address(const char *text)
{
    in_addr a;
    return text && inet_pton(AF_INET, text, &a) == 1;
}

static experimental_options *eo()
{
    return gp ? gp->experimental_options : nullptr;
}

static int current_mode()
{
    return eo() ? eo()->eo_syscall_mode : 6;
}

static pthread_mutex_t *named_lock(pthread_mutex_t *lock_manager::*which)
{
    lock_manager *lm = g_lock_manager ? g_lock_manager : lock_manager_create();
    return lm->*which;
}

// Runs a command through a pipe and throws its output away; false when the
// pipe could not be opened.
static bool run_through_pipe(const char *command)
{
    FILE *p = popen(command, "r");
    if (!p)
        return false;
    char line[512];
    while (fgets(line, sizeof line, p)) {
    }
    pclose(p);
    return true;
}

// ---------------------------------------------------------------- mode 1

static headsyscalllist *syscall_queue()
{
    return gp ? gp->syscalllist : nullptr;
}

void add_syscall(const char *text)
{
    headsyscalllist *q = syscall_queue();
    syscall_info *e = (syscall_info *)calloc(1, sizeof *e);
    if (!q || !e || !(e->syscall = strdup(text))) {
        free(e);
        return;
    }
    pthread_mutex_lock(&q->lock);
    if (q->last)
        q->last->next = e;
    else
        q->first = e;
    q->last = e;
    syscall_total_counter++;
    pthread_mutex_unlock(&q->lock);
}

void *run_syscall_thread(void *arg)
{
    int i = (int)(intptr_t)arg;
    char name[16];
    snprintf(name, sizeof name, "tarn.syscall%i", i);
    prctl(PR_SET_NAME, name, 0, 0, 0);
    headsyscalllist *q = syscall_queue();
    char command[2048];
    for (;;) {
        // The head entry stays queued while it runs; its text is copied
        // under the lock because a replacement worker may free it.
        pthread_mutex_lock(&q->lock);
        bool have = q->first != nullptr;
        if (have)
            snprintf(command, sizeof command, "%s", q->first->syscall);
        pthread_mutex_unlock(&q->lock);
        if (!have) {
            usleep(10000);
            continue;
        }
        int mode = current_mode();
        if (mode == 1) {
            if (system(command) == -1) {
            }
        } else if (mode != 2 && !run_through_pipe(command)) {
            TARN_EXIT(1, "failed getting file descriptor for system call");
        }
        syscall_thread_done[i] = 1;
        // Whether this worker was given up and its removal of the entry are
        // one step under the queue lock: an abandoned worker leaves the
        // entry to its replacement, a worker in time takes it out.
        pthread_mutex_lock(&q->lock);
        if (syscall_thread_active[i] < 0) {
            pthread_mutex_unlock(&q->lock);
            return nullptr;
        }
        syscall_info *e = q->first;
        q->first = e->next;
        if (!q->first)
            q->last = nullptr;
        pthread_mutex_unlock(&q->lock);
        free(e->syscall);
        free(e);
    }
}

static void start_worker(int index)
{
    syscall_thread_active[index] = 1;
    if (pthread_create(&syscall_threads[index], nullptr, run_syscall_thread, (void *)(intptr_t)index) == 0) {
        pthread_detach(syscall_threads[index]); // never joined: workers live to the end
        syscall_thread = syscall_threads[index];
    }
}

static void run_mode1(const char *command, const char *file, int line)
{
    if (syscall_thread_counter > SYSCALL_MAX_THREADS - 1) {
        if (eo() && eo()->eo_syscall_exit_on_fail)
            _tarn_exit(1, file, line, "Cannot perform syscalls anymore, skipping |%s| from %s:%i", command, file, line);
        return;
    }
    pthread_mutex_t *lock = named_lock(&lock_manager::system_call_lock);
    pthread_mutex_lock(lock);
    if (!gp->syscalllist) {
        auto *q = (headsyscalllist *)calloc(1, sizeof(headsyscalllist));
        pthread_mutex_init(&q->lock, nullptr);
        for (int i = 0; i < SYSCALL_MAX_THREADS; i++) {
            syscall_thread_active[i] = 0;
            syscall_thread_done[i] = 0;
        }
        syscall_thread_counter = 0;
        syscall_total_counter = 0;
        syscall_failed_counter = 0;
        gp->syscalllist = q;
        start_worker(0);
    }
    add_syscall(command);
    int index = syscall_thread_counter;
    long checks = (long)(eo() ? eo()->eo_syscall_timeout : 10) * 100;
    bool done = false;
    for (long n = 0; n < checks; n++) {
        if (syscall_thread_done[index]) {
            done = true;
            break;
        }
        usleep(10000);
    }
    if (done) {
        syscall_thread_done[index] = 0;
    } else {
        pthread_mutex_lock(&gp->syscalllist->lock);
        syscall_thread_active[index] = -1;
        pthread_mutex_unlock(&gp->syscalllist->lock);
        syscall_thread_counter++;
        syscall_failed_counter++;
        if (syscall_thread_counter < SYSCALL_MAX_THREADS)
            start_worker(syscall_thread_counter);
    }
    pthread_mutex_unlock(lock);
}

// ---------------------------------------------------------------- mode 3

// A path for a shell line: as it is when it holds only harmless characters,
// else in single quotes.
static std::string shell_path(const std::string &path)
{
    bool plain = true;
    for (char c : path)
        plain = plain && (isalnum((unsigned char)c) || strchr("/._-", c));
    if (plain)
        return path;
    std::string q = "'";
    for (char c : path)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

static void write_mode3_script(const std::string &script, const std::string &lock)
{
    // Never through a link planted in the shared /tmp.
    int fd = open(script.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
    if (fd < 0)
        return;
    std::string text = "#!/bin/bash\n$@\ntouch " + shell_path(lock) + "\n";
    if (write(fd, text.data(), text.size()) < 0) {
    }
    fchmod(fd, 0755);
    close(fd);
}

static void run_mode3(const char *command)
{
    std::string script = platform_path(MODE3_SCRIPT);
    std::string lock = platform_path(MODE3_LOCK);
    struct stat st;
    if (stat(script.c_str(), &st) != 0)
        write_mode3_script(script, lock);

    // The script runs its arguments as "$@" does, split again at blanks
    // and globbed. So the command itself travels in the environment and
    // the arguments are one word without blanks that makes /bin/sh run it
    // whole: redirections and quoting work as in every other mode.
    char text[512];
    snprintf(text, sizeof text, "%s", command);
    std::string env_command = std::string("TARN_SYSCALL_COMMAND=") + text;
    std::vector<char *> envp;
    for (char **e = environ; *e; e++)
        if (strncmp(*e, "TARN_SYSCALL_COMMAND=", 21) != 0)
            envp.push_back(*e);
    envp.push_back(env_command.data());
    envp.push_back(nullptr);
    const char *argv[] = {"/bin/bash", script.c_str(), "/bin/sh", "-c", "eval${IFS}\"$TARN_SYSCALL_COMMAND\"",
                          nullptr};
    unlink(lock.c_str()); // a lock file left over would end the wait at once

    pid_t pid = vfork();
    if (pid == 0) {
        execve(argv[0], (char *const *)argv, envp.data());
        _exit(127);
    }
    if (pid < 0) {
        fputs("can't fork, error occured\n", stderr);
        TARN_EXIT(1, "can't fork, error occured");
    }
    long tries = (long)(eo() ? eo()->eo_syscall_timeout : 10) * 100;
    bool there = false;
    for (long n = 0; n < tries && !there; n++) {
        int fd = open(lock.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            there = true;
        } else {
            usleep(10000);
        }
    }
    if (!there) {
        fprintf(stderr, "system command |%s| timed out\n", command);
        TARN_EXIT(1, "system command |%s| timed out", command);
    }
    usleep(10000);
    int status;
    if (waitpid(pid, &status, 0) < 0) {
        fputs("waitpid() failed\n", stderr);
        TARN_EXIT(1, "waitpid() failed");
    }
    unlink(lock.c_str());
}

// ---------------------------------------------------------------- mode 5

static void run_mode5(const char *command, int number)
{
    std::string dir = platform_path(MODE5_DIR);
    char name[1024], ready[1030];
    snprintf(name, sizeof name, "%s/%05i", dir.c_str(), number);
    snprintf(ready, sizeof ready, "%s.do", name);
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        LOGD(SIP, 5, nullptr, "Couldn't open |%s| for |%s|", name, command);
        return;
    }
    std::string line = std::string(command) + "\n";
    bool written = write(fd, line.data(), line.size()) == (ssize_t)line.size();
    close(fd);
    if (!written || rename(name, ready) != 0) {
        unlink(name);
        LOGD(SIP, 5, nullptr, "Couldn't open |%s| for |%s|", name, command);
        return;
    }
    LOGD(SIP, 5, nullptr, "Dispatching |%s| for |%s|", ready, command);
}

// ---------------------------------------------------------------- mode 6

static void run_mode6(char *command)
{
    // Only whole "iptables" commands go in process; "iptables-save" and the
    // like are other programs.
    const char *table = nullptr;
    char *rule = nullptr;
    if (strncmp(command, "iptables -t nat ", 16) == 0) {
        table = "nat";
        rule = command + 16;
    } else if (strncmp(command, "iptables ", 9) == 0) {
        table = "filter";
        rule = command + 9;
    }
    if (!table) {
        if (system(command) == -1) {
        }
        return;
    }
    pthread_mutex_t *lock = named_lock(&lock_manager::system_call_lock);
    pthread_mutex_lock(lock);
    kvfwd_do_command(table, rule);
    pthread_mutex_unlock(lock);
}

void _run_system_command(const char *file, int line, const char *func, const char *fmt, ...)
{
    char command[SYSCALL_COMMAND_SIZE];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(command, sizeof command, fmt, ap);
    va_end(ap);
    int number = ++command_counter;
    log_msg_debug(5, TARN, file, line, func, nullptr, "|%s|", command);

    if (current_mode() == 5 && !syscall5_dir_checked) {
        syscall5_dir_checked = 1;
        DIR *d = opendir(platform_path(MODE5_DIR).c_str());
        if (d)
            closedir(d);
        else if (eo())
            eo()->eo_syscall_mode = 0;
    }

    switch (current_mode()) {
    case 6:
        run_mode6(command);
        break;
    case 1:
        run_mode1(command, file, line);
        break;
    case 2:
        if (system(command) == -1) {
        }
        break;
    case 3:
        run_mode3(command);
        break;
    case 5:
        run_mode5(command, number);
        break;
    case 99:
        break;
    default: {
        pthread_mutex_t *lock = named_lock(&lock_manager::fp_lock);
        pthread_mutex_lock(lock);
        run_through_pipe(command);
        pthread_mutex_unlock(lock);
        break;
    }
    }
}
