// "#exec": the command's output is read as if it were an included file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "ast_config.h"
#include "ast_config_internal.h"
#include "platform_path.h"

extern char **environ;

static int run_with_shell(const char *command, int out_fd)
{
    posix_spawn_file_actions_t fa;
    if (posix_spawn_file_actions_init(&fa) != 0)
        return -1;
    posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
    posix_spawn_file_actions_adddup2(&fa, out_fd, 2);
    char sh[] = "sh", dash_c[] = "-c";
    char *argv[] = {sh, dash_c, const_cast<char *>(command), nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, "/bin/sh", &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        return -1;
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return 0;
}

static ast_exec_runner_t exec_runner = run_with_shell;

void ast_config_set_exec_runner(ast_exec_runner_t runner)
{
    exec_runner = runner ? runner : run_with_shell;
}

void config_exec_directive(ast_config *cfg, const char *command)
{
    // The file is made with O_CREAT|O_EXCL under a name nobody can predict,
    // so nothing planted in the shared directory is ever opened or followed;
    // the command writes to that very file through its descriptor.
    std::string dir = platform_path("/var/tmp");
    std::string name = dir + "/exec." + std::to_string((long)time(nullptr)) + "." +
                       std::to_string((long)gettid()) + ".XXXXXX";
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        printf("Cannot create the output file of '#exec' in %s: %s\n", dir.c_str(),
               strerror(errno));
        return;
    }
    exec_runner(command, fd);
    FILE *f = nullptr;
    if (lseek(fd, 0, SEEK_SET) == 0)
        f = fdopen(fd, "r");
    if (f) {
        if (ast_config_enter_level(cfg) == 0) {
            config_text_stream_load(f, name.c_str(), cfg);
            ast_config_leave_level(cfg);
        }
        fclose(f);
    } else {
        close(fd);
    }
    unlink(name.c_str());
}
