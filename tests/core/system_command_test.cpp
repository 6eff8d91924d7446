// The system-command runner in each of its modes. The binary runs in a
// private mount namespace (tmpfs on /tmp and /run); commands that change
// network state run in a network namespace of their own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "application.h"
#include "experimental_options.h"
#include "log.h"
#include "private_netns.h"
#include "system_command.h"

namespace {

std::string why_not;
const bool private_mounts = enter_private_mounts(&why_not);

std::vector<std::string> debug_lines;
void keep_debug(int level, int module, const char *file, int line, const char *func, const char *, const char *fmt,
                va_list ap)
{
    char *t = _strdup_vprintf(fmt, ap);
    debug_lines.push_back(std::to_string(level) + " " + log_module_names[module] + " " + file + ":" +
                          std::to_string(line) + " " + func + " " + t);
    free(t);
}

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Bounded poll for a condition that another process brings about.
template <typename F> bool wait_for(F cond, int ms = 10000)
{
    for (int i = 0; i < ms / 10; i++) {
        if (cond())
            return true;
        usleep(10000);
    }
    return cond();
}

class SystemCommand : public ::testing::Test {
protected:
    std::string root;
    void SetUp() override
    {
        if (!private_mounts)
            GTEST_SKIP() << why_not;
        application_create();
        init_locks();
        _parse_experimental_options("");
        char tmpl[] = "/tmp/syscmd.XXXXXX";
        root = mkdtemp(tmpl);
        mkdir((root + "/tmp").c_str(), 0755);
        setenv("TARN_ROOT", root.c_str(), 1);
        debug_lines.clear();
        log_set_loglevel_debug(log_levels_debug, TARN, 9);
        log_set_loglevel_debug(log_levels_debug, SIP, 9);
        log_set_log_handler_debug(keep_debug);
        syscall5_dir_checked = 0;
    }
    void TearDown() override
    {
        log_set_log_handler_debug(nullptr);
        unsetenv("TARN_ROOT");
    }
    void mode(int m) { gp->experimental_options->eo_syscall_mode = m; }
};

TEST_F(SystemCommand, LogsEveryCommandWithTheCallersPosition)
{
    mode(99);
    int before = command_counter;
    _run_system_command("caller.cpp", 77, "caller", "iptables -F %s", "configured_sip_peers");
    EXPECT_EQ(command_counter, before + 1);
    ASSERT_EQ(debug_lines.size(), 1u);
    EXPECT_EQ(debug_lines[0], "5 TARN caller.cpp:77 caller |iptables -F configured_sip_peers|");
}

TEST_F(SystemCommand, SpoolFilesCarryTheCommandCutTo1023Characters)
{
    mode(5);
    std::string dir = root + "/tmp/tarn.syscallmode5";
    mkdir(dir.c_str(), 0755);
    run_system_command("iptables -F configured_sip_peers");
    char name[64];
    snprintf(name, sizeof name, "/%05i.do", (int)command_counter);
    EXPECT_EQ(read_text_file(dir + name), "iptables -F configured_sip_peers\n");
    EXPECT_FALSE(exists(dir + std::string(name).substr(0, 6))) << "only the ready name remains";
    EXPECT_EQ(debug_lines.back().rfind("5 SIP ", 0), 0u) << debug_lines.back();
    EXPECT_NE(debug_lines.back().find("Dispatching |" + dir + name + "| for |iptables -F configured_sip_peers|"),
              std::string::npos)
        << debug_lines.back();

    std::string long_text(2000, 'x');
    run_system_command("echo %s", long_text.c_str());
    snprintf(name, sizeof name, "/%05i.do", (int)command_counter);
    std::string spooled = read_text_file(dir + name);
    EXPECT_EQ(spooled.size(), 1024u);
    EXPECT_EQ(spooled, "echo " + long_text.substr(0, 1018) + "\n");
    EXPECT_EQ(gp->experimental_options->eo_syscall_mode, 5);
}

TEST_F(SystemCommand, WithoutSpoolDirectoryTheFirstCommandFallsBackToAPipe)
{
    mode(5);
    run_system_command("touch %s/ran", root.c_str());
    EXPECT_EQ(gp->experimental_options->eo_syscall_mode, 0);
    EXPECT_TRUE(exists(root + "/ran")) << "run through the pipe of mode 0";
}

TEST_F(SystemCommand, ModeTwoAndPipeRunTheShellLine)
{
    mode(2);
    run_system_command("echo two > %s/out2", root.c_str());
    EXPECT_EQ(read_text_file(root + "/out2"), "two\n");
    mode(0);
    run_system_command("echo zero > %s/out0; echo discarded", root.c_str());
    EXPECT_EQ(read_text_file(root + "/out0"), "zero\n");
    mode(99);
    run_system_command("echo none > %s/out99", root.c_str());
    EXPECT_FALSE(exists(root + "/out99"));
}

TEST_F(SystemCommand, ModeThreeRunsRedirectionsThroughItsScript)
{
    mode(3);
    std::string script = root + "/tmp/tarn.syscallmode3.sh";
    run_system_command("echo 1 > %s/ip_forward", root.c_str());
    EXPECT_EQ(read_text_file(root + "/ip_forward"), "1\n") << "written, not printed";
    EXPECT_EQ(read_text_file(script), "#!/bin/bash\n$@\ntouch " + root + "/tmp/tarn.syslock\n");
    struct stat st;
    ASSERT_EQ(stat(script.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_FALSE(exists(root + "/tmp/tarn.syslock")) << "removed after the wait";
    run_system_command("printf '%%s' 'a  *  b' > %s/quoted", root.c_str());
    EXPECT_EQ(read_text_file(root + "/quoted"), "a  *  b") << "neither split nor globbed";

    // An existing script is used as it stands.
    std::string own = "#!/bin/bash\necho own > " + root + "/marker\n\"$@\"\ntouch " + root + "/tmp/tarn.syslock\n";
    std::ofstream(script) << own;
    run_system_command("echo 2 > %s/second", root.c_str());
    EXPECT_EQ(read_text_file(root + "/second"), "2\n");
    EXPECT_EQ(read_text_file(root + "/marker"), "own\n");
    EXPECT_EQ(read_text_file(script), own);
}

TEST_F(SystemCommand, ModeOneWaitsForItsWorker)
{
    mode(1);
    std::string out = root + "/mode1";
    run_system_command("echo a >> %s", out.c_str());
    EXPECT_EQ(read_text_file(out), "a\n") << "the caller returns once the worker is done";
    run_system_command("echo b >> %s", out.c_str());
    EXPECT_EQ(read_text_file(out), "a\nb\n");
    EXPECT_EQ(syscall_total_counter, 2);
    EXPECT_EQ(syscall_failed_counter, 0);
    process_result names = run_process({"sh", "-c", "cat /proc/" + std::to_string(getpid()) + "/task/*/comm"});
    EXPECT_NE(names.out.find("tarn.syscall0\n"), std::string::npos) << names.out;
}

TEST_F(SystemCommand, ModeOneRunsAHangingCommandAgainInTheNextWorker)
{
    mode(1);
    gp->experimental_options->eo_syscall_timeout = 1;
    int failed = syscall_failed_counter, index = syscall_thread_counter;
    std::string out = root + "/hang";
    run_system_command("echo run >> %s; sleep 3", out.c_str());
    EXPECT_EQ(syscall_failed_counter, failed + 1);
    EXPECT_EQ(syscall_thread_counter, index + 1);
    EXPECT_EQ(syscall_thread_active[index], -1);
    EXPECT_TRUE(wait_for([&] { return read_text_file(out) == "run\nrun\n"; })) << read_text_file(out);
}

TEST_F(SystemCommand, ModeOneWithoutWorkersLeft)
{
    mode(1);
    process_result r = run_forked([] {
        syscall_thread_counter = 16;
        _run_system_command("caller.cpp", 12, "caller", "true");
        return 0;
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("TARN EXITCODE 1: Cannot perform syscalls anymore, skipping |true| from caller.cpp:12"),
              std::string::npos)
        << r.err;
    gp->experimental_options->eo_syscall_exit_on_fail = 0;
    r = run_forked([this] {
        syscall_thread_counter = 16;
        run_system_command("touch %s/dropped", root.c_str());
        return 0;
    });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(exists(root + "/dropped"));
}

TEST_F(SystemCommand, ModeSixRunsOnlyIptablesCommandsInProcess)
{
    mode(6);
    process_result r = run_in_new_netns([] {
        run_system_command("iptables -t nat -A POSTROUTING -o eth1 -j MASQUERADE");
        run_system_command("iptables -N csp__peers");
        run_system_command("iptables  -i eth1 -A csp__peers -p udp -s 192.0.2.10 -j ACCEPT");
        run_system_command("iptables -t nat -F");
        run_system_command("echo 1 > /proc/sys/net/ipv4/ip_forward");
        run_system_command("iptables");
        run_system_command("iptables-notthere-save");
        fflush(stdout);
        if (system("cat /proc/sys/net/ipv4/ip_forward; for t in nat filter; do iptables-legacy-save -t $t; done"
                   " | grep -v '^[#:]'") != 0)
            return 2;
        return 0;
    });
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1\n*nat\nCOMMIT\n*filter\n-A csp__peers -s 192.0.2.10/32 -i eth1 -p udp -j ACCEPT\nCOMMIT\n");
    EXPECT_EQ(r.err.find("iptables: "), std::string::npos) << "nothing but whole commands reaches the parser\n"
                                                            << r.err;
    EXPECT_NE(r.err.find("iptables-notthere-save: not found"), std::string::npos) << r.err;
}

} // namespace
