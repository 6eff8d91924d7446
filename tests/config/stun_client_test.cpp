// The STUN client against coturn (turnserver --stun-only) and against a
// small STUN responder whose mapped address the test switches; the STUN
// server list collected from the SIP groups. Everything on 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sofia-sip/su.h>

#include "application.h"
#include "conf_root.h"
#include "debug_lines.h"
#include "dnsmasq_runner.h"
#include "experimental_options.h"
#include "housekeeping.h"
#include "pg_port_groups.h"
#include "pg_sip_groups.h"
#include "reg_object.h"
#include "registrations.h"
#include "run_process.h"
#include "sip_reload.h"
#include "stun_client.h"
#include "thread_names.h"

namespace {

// Bound of the waits for what the STUN server simulator must print: the
// wait ends when it comes; a loaded machine can take seconds to start Python.
constexpr int SIM_WAIT_MS = 60000;

std::vector<std::pair<void *, int>> tasks;
int record_task(call_object *co, int event)
{
    tasks.push_back({co, event});
    return 0;
}

// A background program whose standard output goes to a file.
struct background {
    pid_t pid = -1;
    std::string out;
    background(const std::vector<std::string> &argv, const std::string &out_path) : out(out_path)
    {
        pid = fork();
        if (pid == 0) {
            int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 1);
            dup2(fd, 2);
            std::vector<char *> a;
            for (const std::string &s : argv)
                a.push_back(const_cast<char *>(s.c_str()));
            a.push_back(nullptr);
            execvp(a[0], a.data());
            _exit(127);
        }
    }
    ~background()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int st;
            waitpid(pid, &st, 0);
        }
    }
    std::string text() const { return read_text_file(out); }
    bool wait_for(const std::string &what, int timeout_ms) const
    {
        for (int i = 0; i < timeout_ms / 20; i++) {
            if (text().find(what) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
};

// True once a Binding Request to 127.0.0.1:port is answered.
bool stun_answers(int port, int timeout_ms)
{
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char req[20] = {0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xa4, 0x42, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    bool ok = false;
    for (int i = 0; i < timeout_ms / 100 && !ok; i++) {
        sendto(s, req, sizeof req, 0, (sockaddr *)&a, sizeof a);
        pollfd p{s, POLLIN, 0};
        if (poll(&p, 1, 100) == 1) {
            unsigned char buf[512];
            ok = recv(s, buf, sizeof buf, 0) >= 20 && buf[0] == 0x01 && buf[1] == 0x01;
        }
    }
    close(s);
    return ok;
}

class StunClient : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        su_init();
        if (!gp)
            application_create();
        if (!gp->locks)
            init_locks();
        pg_sip_hooks h{stun_learned_address};
        pg_sip_set_hooks(&h);
    }
    void SetUp() override
    {
        root = std::make_unique<conf_root>(false);
        _parse_experimental_options("memory_watchdog=0:0:0");
        housekeeping_hooks h{};
        h.add_sm_task = record_task;
        housekeeping_set_hooks(&h);
        tasks.clear();
    }
    void TearDown() override
    {
        set_servers({});
        housekeeping_reset_hooks();
        if (gp->registrations) {
            for (int i = 0; i < REGISTRATIONARRAYSIZE; i++)
                delete gp->registrations[i];
            delete[] gp->registrations;
            gp->registrations = nullptr;
            REGISTRATIONARRAYSIZE = 0;
        }
    }
    static void set_servers(const std::vector<std::string> &names)
    {
        free(gp->stunservers);
        gp->stunservers = names.empty() ? nullptr : (stunserver_entry *)calloc(names.size(), sizeof(stunserver_entry));
        for (size_t i = 0; i < names.size(); i++)
            snprintf(gp->stunservers[i].stunserver, sizeof gp->stunservers[i].stunserver, "%s", names[i].c_str());
        gp->stunserver_count = (int)names.size();
        gp->stunserver_reload = 0;
    }
    std::string learned(const std::string &name)
    {
        char buf[64];
        return stun_learned_address(name.c_str(), buf, sizeof buf) ? buf : "";
    }
    std::unique_ptr<conf_root> root;
};

TEST_F(StunClient, CoturnGivesTheLoopbackAddress)
{
    int port = free_local_port();
    background turn({"turnserver", "-n", "--stun-only", "--listening-ip=127.0.0.1",
                     "--listening-port=" + std::to_string(port), "--no-cli", "--no-tls", "--no-dtls",
                     "--log-file=stdout", "--simple-log", "--pidfile=" + root->path("turn.pid"),
                     "--db=" + root->path("turndb")},
                    root->path("turn.out"));
    ASSERT_TRUE(stun_answers(port, 10000)) << turn.text();
    std::string name = "127.0.0.1:" + std::to_string(port);
    set_servers({name});
    EXPECT_EQ(learned(name), "");
    stun_client_pass();
    EXPECT_STREQ(gp->stunservers[0].externip, "127.0.0.1");
    EXPECT_EQ(learned(name), "127.0.0.1");
}

TEST_F(StunClient, NewAddressReregistersTheRegistrationsOfItsFirstServerOnly)
{
    std::string addr = root->path("addr");
    root->write("addr", "192.0.2.44");
    background sim({"python3", std::string(TARN_SOURCE_DIR) + "/sim/stunsim/stunsim.py", "--addr-file", addr},
                   root->path("sim.out"));
    ASSERT_TRUE(sim.wait_for("port ", SIM_WAIT_MS)) << sim.text();
    int port = atoi(sim.text().substr(sim.text().find("port ") + 5).c_str());
    std::string name = "127.0.0.1:" + std::to_string(port);

    // Groups: "first" names the server first, "second" names it second,
    // "quiet" does not register.
    port_groups *pg = pg_port_groups();
    static port_group_sip groups[3];
    static char *first_list[1], *second_list[2], *quiet_list[1];
    first_list[0] = strdup(name.c_str());
    second_list[0] = strdup("127.0.0.1:9");
    second_list[1] = strdup(name.c_str());
    quiet_list[0] = strdup(name.c_str());
    groups[0] = port_group_sip{};
    groups[0].pgs_name = (char *)"first";
    groups[0].pgs_stunserver = first_list;
    groups[0].pgs_stunserver_count = 1;
    groups[0].pgs_do_register = 1;
    groups[1] = port_group_sip{};
    groups[1].pgs_name = (char *)"second";
    groups[1].pgs_stunserver = second_list;
    groups[1].pgs_stunserver_count = 2;
    groups[1].pgs_do_register = 1;
    groups[2] = port_group_sip{};
    groups[2].pgs_name = (char *)"quiet";
    groups[2].pgs_stunserver = quiet_list;
    groups[2].pgs_stunserver_count = 1;
    port_group_sip *saved = pg->port_groups_sip;
    int saved_count = pg->port_groups_sip_count;
    pg->port_groups_sip = groups;
    pg->port_groups_sip_count = 3;
    REGISTRATIONARRAYSIZE = 2;
    gp->registrations = new reg_object *[2];
    for (int i = 0; i < 2; i++) {
        gp->registrations[i] = new reg_object();
        gp->registrations[i]->pgs = &groups[i];
    }

    set_servers({name});
    stun_client_pass();
    EXPECT_STREQ(gp->stunservers[0].externip, "192.0.2.44");
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].first, (void *)gp->registrations[0]);
    EXPECT_EQ(tasks[0].second, 12349878);
    ASSERT_TRUE(groups[2].pgs_contact_string);
    EXPECT_NE(std::string(groups[2].pgs_contact_string).find("192.0.2.44"), std::string::npos)
        << groups[2].pgs_contact_string;

    // The same address again: nothing.
    tasks.clear();
    stun_client_pass();
    EXPECT_TRUE(tasks.empty());

    // A new one.
    root->write("addr", "192.0.2.45");
    stun_client_pass();
    EXPECT_STREQ(gp->stunservers[0].externip, "192.0.2.45");
    EXPECT_EQ(tasks.size(), 1u);
    EXPECT_NE(std::string(groups[2].pgs_contact_string).find("192.0.2.45"), std::string::npos);

    pg->port_groups_sip = saved;
    pg->port_groups_sip_count = saved_count;
    for (port_group_sip &g : groups)
        free(g.pgs_contact_string);
    for (char *s : {first_list[0], second_list[0], second_list[1], quiet_list[0]})
        free(s);
}

// A server that gives no address after one that does keeps none: the last
// answer is not handed on.
TEST_F(StunClient, ServerWithoutAnswerInheritsNothing)
{
    root->write("addr", "192.0.2.60");
    std::string script = std::string(TARN_SOURCE_DIR) + "/sim/stunsim/stunsim.py";
    background sim({"python3", script, "--addr-file", root->path("addr")}, root->path("sim.out"));
    background refusing({"python3", script, "--addr-file", root->path("addr"), "--no-address"}, root->path("err.out"));
    ASSERT_TRUE(sim.wait_for("port ", SIM_WAIT_MS)) << sim.text();
    ASSERT_TRUE(refusing.wait_for("port ", SIM_WAIT_MS)) << refusing.text();
    int port = atoi(sim.text().substr(sim.text().find("port ") + 5).c_str());
    int refusing_port = atoi(refusing.text().substr(refusing.text().find("port ") + 5).c_str());
    std::string talker = "127.0.0.1:" + std::to_string(port);
    std::string silent = "127.0.0.1:" + std::to_string(refusing_port);
    set_servers({talker, silent});
    stun_client_pass();
    EXPECT_EQ(learned(talker), "192.0.2.60");
    EXPECT_EQ(learned(silent), "");
    EXPECT_TRUE(refusing.wait_for("-> none", SIM_WAIT_MS)) << refusing.text();
}

// With stun_extra_check, a name the DNS does not know is logged and still
// asked.
TEST_F(StunClient, UnresolvableNameIsStillAsked)
{
    dnsmasq_runner dns({});
    ASSERT_TRUE(dns.ok());
    dns.export_env();
    _parse_experimental_options("memory_watchdog=0:0:0,stun_extra_check=1");
    background sim({"python3", std::string(TARN_SOURCE_DIR) + "/sim/stunsim/stunsim.py", "--addr-file",
                    root->path("addr")},
                   root->path("sim.out"));
    ASSERT_TRUE(sim.wait_for("port ", SIM_WAIT_MS)) << sim.text();
    int port = atoi(sim.text().substr(sim.text().find("port ") + 5).c_str());
    debug_lines rec({SIP});
    std::string name = "127.0.0.1:" + std::to_string(port);
    set_servers({name});
    stun_client_pass();
    EXPECT_TRUE(rec.has("couldn't resolve stun_server |" + name + "|")) << testing::PrintToString(rec.lines());
    EXPECT_TRUE(sim.wait_for("request 127.0.0.1:", SIM_WAIT_MS)) << sim.text();
    EXPECT_EQ(learned(name), "127.0.0.1");
    unsetenv("NSCACHEIP");
    unsetenv("RES_OPTIONS");
}

// ---- the STUN server list --------------------------------------------------------------

TEST_F(StunClient, ServerListSortedWithoutDuplicates)
{
    port_groups *pg = pg_port_groups();
    static port_group_sip groups[3];
    static char *a[2] = {(char *)"stun.b.test", (char *)"stun.a.test"};
    static char *b[1] = {(char *)"stun.b.test"};
    static char *c[2] = {(char *)"stun.b.test", (char *)"Stun.c.test"};
    groups[0] = port_group_sip{};
    groups[0].pgs_stunserver = a;
    groups[0].pgs_stunserver_count = 2;
    groups[1] = port_group_sip{};
    groups[1].pgs_stunserver = b;
    groups[1].pgs_stunserver_count = 1;
    groups[2] = port_group_sip{};
    groups[2].pgs_stunserver = c;
    groups[2].pgs_stunserver_count = 2;
    port_group_sip *saved = pg->port_groups_sip;
    int saved_count = pg->port_groups_sip_count;
    pg->port_groups_sip = groups;
    pg->port_groups_sip_count = 3;

    set_servers({});
    collect_stun_servers();
    ASSERT_EQ(gp->stunserver_count, 3);
    EXPECT_STREQ(gp->stunservers[0].stunserver, "Stun.c.test"); // byte-wise: capitals first
    EXPECT_STREQ(gp->stunservers[1].stunserver, "stun.a.test");
    EXPECT_STREQ(gp->stunservers[2].stunserver, "stun.b.test");
    EXPECT_EQ(gp->stunserver_reload, 1);

    // Unchanged: the list and its learned addresses stay, no new pass.
    gp->stunserver_reload = 0;
    snprintf(gp->stunservers[1].externip, sizeof gp->stunservers[1].externip, "192.0.2.1");
    stunserver_entry *before = gp->stunservers;
    collect_stun_servers();
    EXPECT_EQ(gp->stunservers, before);
    EXPECT_EQ(gp->stunserver_reload, 0);
    EXPECT_STREQ(gp->stunservers[1].externip, "192.0.2.1");

    // Three groups naming one server: one entry.
    for (port_group_sip &g : groups) {
        g.pgs_stunserver = b;
        g.pgs_stunserver_count = 1;
    }
    collect_stun_servers();
    ASSERT_EQ(gp->stunserver_count, 1);
    EXPECT_STREQ(gp->stunservers[0].stunserver, "stun.b.test");
    EXPECT_EQ(gp->stunserver_reload, 1);

    pg->port_groups_sip = saved;
    pg->port_groups_sip_count = saved_count;
}

TEST_F(StunClient, ThreadStartsNamedAndStops)
{
    set_servers({});
    ASSERT_EQ(stun_client_start(), 0);
    bool named = false;
    for (int i = 0; i < 1000 && !named; i++) {
        named = count_threads("tarn.stun") == 1;
        if (!named)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(named);
    stun_client_stop();
    EXPECT_EQ(count_threads("tarn.stun"), 0);
}

} // namespace
