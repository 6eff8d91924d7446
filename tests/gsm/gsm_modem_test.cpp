// The library against modemsim: start-up and initialisation per model, and
// single AT exchanges with the faults a modem line shows.
#include "gsm_fixture.h"
#include "modemsim_client.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using strings = std::vector<std::string>;

class GsmModem : public ::testing::Test {
protected:
    std::string root;
    std::unique_ptr<modemsim> sim;
    gsm_config_t cfg[GSM_PORT_TABLE] = {};
    gsm_global_config global = {1, nullptr};
    bool started = false;

    void SetUp() override
    {
        root = gsm_test_root();
        gsm_test_clock(5);
        g_events.clear();
    }
    void TearDown() override
    {
        if (started)
            gsm_shutdown();
        sim.reset();
        global_gsm_libexpect_accept_cme_error = 0;
        global_gsm_read_method = 1;
        remove_tree(root);
    }
    // Starts the simulator and the library with the given ports configured.
    void start(const strings &simargs, const std::vector<std::pair<int, const char *>> &ports,
               const char *smsc = "")
    {
        sim = std::make_unique<modemsim>(root, simargs);
        ASSERT_TRUE(sim->running());
        for (auto &p : ports) {
            cfg[p.first].port = p.first;
            snprintf(cfg[p.first].pin, sizeof cfg[p.first].pin, "%s", p.second);
            snprintf(cfg[p.first].smsc, sizeof cfg[p.first].smsc, "%s", smsc);
            ASSERT_EQ(gsm_cfg_init(&cfg[p.first]), 1);
        }
        ASSERT_EQ(gsm_init(gsm_test_callback, cfg, &global), 1);
        started = true;
    }
    std::string sys(const std::string &rel) { return read_file(root + "/sys/class/kvxgsm/" + rel); }
};

// Commands up to (not including) the shut-down exchange.
strings init_commands(modemsim &sim, int port)
{
    strings c = sim.commands(port);
    return c;
}

TEST_F(GsmModem, TwoPortsInitialiseTheirModelTablesInOrder)
{
    start({"--lif", "0:DV2GSM", "--port", "1:model=GE865,pin=1234", "--port", "2:model=LE910C1"},
          {{1, "1234"}, {2, ""}}, "+491710760000");
    ASSERT_EQ(gsm_port_is_ready(1), 1);
    ASSERT_EQ(gsm_port_is_ready(2), 1);
    EXPECT_EQ(gsm_port_is_successfully_initialized(1), 1);
    EXPECT_EQ(gsm_port_is_successfully_initialized(2), 1);
    EXPECT_STREQ(libsm_get_modem_name(1), "GE-865");
    EXPECT_STREQ(libsm_get_modem_name(2), "LE910C4-EU");
    EXPECT_STREQ(libsm_get_port_state_string(1), "IDLE");

    const strings ge865 = {
        "AT", "AT&F0", "AT+GMM", "AT+CIND=0,0,0,0,0,0,0,0,0,0", "AT", "AT&F", "AT+IPR=9600",
        "AT+CIND=0,0,0,0,0,0,0,0,0,0", "AT+CMEE=2", "AT#SIMDET?", "AT#SELINT=2", "AT#SMSMODE=1",
        "AT#REGMODE=1", "AT#DIALMODE=0", "AT+CFUN=1,0", "AT+FCLASS=8", "AT#PCT", "AT+CPIN?",
        "AT+CPIN?", "AT+CPIN=1234", "AT+CMER=3,0,0,2,0", "AT+CSSN=1,1", "AT#DVI=1,1,0", "AT+CLIP=1",
        "AT+CLIR=2", "AT+CALM=2", "AT#STM=2", "AT+CSCA=+491710760000", "AT+CSCS=\"UCS2\"",
        "AT+CMGF=1", "AT+CSMP=17,167,0,8", "AT+CNMI=2,1,0,1,0", "AT+CSDH=1", "AT+CMGD=1,4",
        "AT#CODEC=0", "AT#ECAM=1", "AT+CREG=2", "AT+CIND=0,0,1,1,0,1,0,0,0"};
    const strings le910c1 = {
        "AT", "AT&F0", "AT+GMM", "AT", "AT&F0", "AT#CFLO=1", "AT+CMEE=2", "AT#ISMSCFG=0",
        "AT#SIMDET?", "AT+CIND=0,0,0,0,0,0,0,0,0,0,0", "AT#SELINT=2", "AT#SMSMODE=1",
        "AT#DIALMODE=0", "AT+CFUN=1,0", "AT+FCLASS=8", "AT#PCT", "AT+CMER=3,0,0,2,0",
        "AT+CSSN=1,1", "AT#DVI=1,2,0", "AT#DVICLK=2048", "AT+CLIP=1", "AT+CLIR=2", "AT+CALM=2",
        "AT#STM=2", "AT+CSCA=+491710760000", "AT+CSCS=\"UCS2\"", "AT+CMGF=1", "AT+CSMP=17,167,0,8",
        "AT+CNMI=2,1,0,1,0", "AT+CSDH=1", "AT+CMGD=1,4", "AT#CODEC=0", "AT#ECAM=1", "AT+COPS=0",
        "AT+CREG=2", "AT+CIND=0,0,1,1,0,1,0,0,0,0,0"};
    EXPECT_EQ(init_commands(*sim, 1), ge865);
    EXPECT_EQ(init_commands(*sim, 2), le910c1);
    // The PIN was taken: LED on, the SIM ready, the modem registered.
    EXPECT_EQ(sys("0/led_state").substr(0, 1), "2");
    EXPECT_EQ(sys("0/enabled").substr(0, 1), "1");
    char *answer = nullptr;
    ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CREG, "AT+CREG?\r\n", nullptr, &answer, 1, 0), 0);
    ASSERT_NE(answer, nullptr);
    EXPECT_STREQ(answer, "+CREG: 2,1\r\nOK\r");
    free(answer);
}

TEST_F(GsmModem, WrongPinIsRecordedAndTheModemStaysUnregistered)
{
    start({"--port", "1:model=LE910EU-V2,pin=1234"}, {{1, "4321"}});
    ASSERT_EQ(gsm_port_is_ready(1), 1);
    EXPECT_EQ(gsm_port_is_successfully_initialized(1), 1);
    EXPECT_STREQ(cfg[1].messages, "AT+CPIN failed");
    std::string pc;
    sim->request({"get", "1", "pin_counter"}, &pc);
    EXPECT_EQ(pc, "2");
    char *answer = nullptr;
    ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CREG, "AT+CREG?\r\n", nullptr, &answer, 1, 0), 0);
    EXPECT_STREQ(answer, "+CREG: 2,0\r\nOK\r");
    free(answer);
    EXPECT_NE(sys("0/led_state").substr(0, 1), "2");
}

TEST_F(GsmModem, MissingSimSwitchesDetectionAndRecordsThePinFailure)
{
    global_gsm_libexpect_accept_cme_error = 1;
    start({"--port", "1:model=GE865,pin=1234,sim=0"}, {{1, "1234"}});
    ASSERT_EQ(gsm_port_is_ready(1), 1);
    EXPECT_EQ(gsm_port_is_successfully_initialized(1), 1);
    EXPECT_STREQ(cfg[1].messages, "AT+CPIN failed");
    strings c = sim->commands(1);
    auto at = [&](const std::string &s) { return std::find(c.begin(), c.end(), s) - c.begin(); };
    // Detection is set to "SIM present", and re-triggered while the SIM
    // answers with errors, before the PIN is tried.
    EXPECT_LT(at("AT#SIMDET?"), at("AT#SIMDET=1"));
    EXPECT_EQ(std::count(c.begin(), c.end(), "AT#SIMDET=0"), 4);
    EXPECT_LT(at("AT#SIMDET=0"), at("AT+CPIN=1234"));
    EXPECT_LT((size_t)at("AT+CPIN=1234"), c.size());
}

TEST_F(GsmModem, FatalStepsCloseThePort)
{
    struct {
        const char *sim;
        const char *pin;
        const char *fault;   // prefix rejected by the modem
        int initialised;
        const char *messages;
    } cases[] = {
        {"1:model=GE865,pin=1234,pin_counter=1", "1234", nullptr, 0, "AT#PCT failed"},
        {"1:model=GE865,pin=1234,pin_counter=3", "1234", nullptr, 1, "config initialized"},
        {"1:model=GE865", "", "AT#REGMODE", 0, "AT#REGMODE=1 failed"},
        {"1:model=LE910EU-V2", "", "AT#REGMODE", 1, "config initialized"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.sim);
        sim = std::make_unique<modemsim>(root, strings{"--port", c.sim});
        ASSERT_TRUE(sim->running());
        if (c.fault)
            sim->fault(1, "reject", c.fault, -1);
        gsm_config_t one[GSM_PORT_TABLE] = {};
        one[1].port = 1;
        snprintf(one[1].pin, sizeof one[1].pin, "%s", c.pin);
        gsm_cfg_init(&one[1]);
        ASSERT_EQ(gsm_init(gsm_test_callback, one, &global), 1);
        // The reader posts `ready` whatever the outcome; the flag tells it.
        EXPECT_EQ(gsm_port_is_ready(1), 1);
        EXPECT_EQ(gsm_port_is_successfully_initialized(1), c.initialised);
        EXPECT_STREQ(one[1].messages, c.messages);
        if (!c.initialised) {
            EXPECT_STREQ(libsm_get_port_state_string(1), "KILLED");
        }
        gsm_shutdown();
        sim.reset();
    }
}

TEST_F(GsmModem, MissingDeviceOrPowerFileFailsThePortWithoutHanging)
{
    sim = std::make_unique<modemsim>(root, strings{"--count", "3", "--port", "1:model=GE865"});
    ASSERT_TRUE(sim->running());
    // Port 2 has sysfs files but no device; port 3 has not even its power file.
    unlink((root + "/sys/class/kvxgsm/2/enabled").c_str());
    for (int p : {1, 2, 3}) {
        cfg[p].port = p;
        gsm_cfg_init(&cfg[p]);
    }
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(gsm_init(gsm_test_callback, cfg, &global), 1);
    started = true;
    EXPECT_EQ(gsm_port_is_ready(1), 1);
    EXPECT_EQ(gsm_port_is_successfully_initialized(1), 1);
    EXPECT_EQ(gsm_port_is_ready(2), 0);
    EXPECT_EQ(gsm_port_is_ready(3), 0);
    // A restart of the port fails the same way, with ENODEV.
    EXPECT_EQ(libgsm_port_init(2, &cfg[2]), 0);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(gsm_port_is_ready(2), 0);
    EXPECT_EQ(gsm_port_is_successfully_initialized(3), 0);
    EXPECT_STREQ(libsm_get_port_state_string(2), "KILLED");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(gsm_ready_counter.load(), 300);
    // Queuing on a failed port is refused, not silently dropped.
    EXPECT_EQ(gsm_queue_command(2, GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", nullptr, nullptr, 1, 0), -1);
}

// ---- single exchanges on one initialised port ------------------------------

class GsmExchange : public GsmModem {
protected:
    void SetUp() override
    {
        GsmModem::SetUp();
        start({"--port", "1:model=GE865"}, {{1, ""}});
        ASSERT_EQ(gsm_port_is_ready(1), 1);
        ASSERT_EQ(gsm_port_is_successfully_initialized(1), 1);
        sim->request({"clear", "1"});
        g_events.clear();
    }
    std::string run(int type, const char *text, long *ms = nullptr, int notify = 1)
    {
        char *answer = nullptr;
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(gsm_queue_command(1, type, text, nullptr, &answer, 1, notify), 0);
        if (ms)
            *ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t0)
                      .count();
        std::string a = answer ? answer : "(none)";
        free(answer);
        return a;
    }
};

TEST_F(GsmExchange, EndPatternsEchoChecksAndTimeLimits)
{
    const std::string cops_line = "0000" + std::string(96, 'L');
    // The limit of these commands (5 s, scaled as the library scales a wait
    // for an answer), counted in the library's 100 ms ticks; an answer that
    // comes may take a while on a loaded machine.
    const long L = gsm_scaled_wait_ms(5000), TICK = 110, SLACK = 2000;
    const long DIAL = gsm_scaled_wait_ms(30000); // the limit of ATD
    struct {
        const char *name;
        const char *fault;
        const char *arg;
        int count;
        const char *extra;
        int type;
        const char *cmd;
        const char *answer;  // exact answer, or null to skip
        bool notified;       // the callback saw the completed answer
        long min_ms, max_ms; // duration bounds
        int sends;           // times the line went out
    } cases[] = {
        {"plain", nullptr, "", 1, "", GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", "+CSQ: 17,99\r\nOK\r", true, 0, L + SLACK, 1},
        {"CME error ends", "cme", "AT+CSQ", 1, "SIM busy", GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n",
         "+CME ERROR: SIM busy\r", true, 0, L + SLACK, 1},
        {"ATD ends at BUSY", "final", "ATD", 1, "BUSY", GSM_EVENT_TYPE_ATD, "ATD0301234;\r\n", "BUSY\r", true, 0,
         L + SLACK, 1},
        {"ATA runs past BUSY to its limit", "final", "ATA", 1, "BUSY", GSM_EVENT_TYPE_ATA, "ATA\r\n",
         "BUSY\r\n", false, L - TICK, L + SLACK, 1},
        {"ATD ends at NO ANSWER", "final", "ATD", 1, "NO ANSWER", GSM_EVENT_TYPE_ATD, "ATD0301234;\r\n",
         "NO ANSWER\r", true, 0, L + SLACK, 1},
        {"ATD ends at NO DIALTONE", "final", "ATD", 1, "NO DIALTONE", GSM_EVENT_TYPE_ATD, "ATD0301234;\r\n",
         "NO DIALTONE\r", true, 0, L + SLACK, 1},
        // A dial without its final result still reaches the callback at its
        // limit (the call waiting for it must end); other commands do not.
        {"ATD without final line", "nofinal", "", 1, "", GSM_EVENT_TYPE_ATD, "ATD0301234;\r\n", nullptr, true,
         DIAL - TICK, DIAL + SLACK, 1},
        {"ATD without echo", "noecho", "", 3, "", GSM_EVENT_TYPE_ATD, "ATD0301234;\r\n", "", true,
         3 * (DIAL - TICK), 3 * DIAL + SLACK, 3},
        {"no final line", "nofinal", "", 1, "", GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", "+CSQ: 17,99\r\n", false,
         L - TICK, L + SLACK, 1},
        {"split writes", "split", "", 1, "", GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", "+CSQ: 17,99\r\nOK\r", true, 0,
         L + SLACK, 1},
        {"NUL bytes", "nul", "", 1, "", GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", "+CSQ: 17,99\r\nOK\r", true, 0, L + SLACK, 1},
        {"over-long line", "longline", "5000", 1, "", GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", "+CSQ: 17,99\r\nOK\r", true,
         0, L + SLACK, 1},
        {"no echo: three tries", "noecho", "", 3, "", GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", "", false, 3 * (L - TICK),
         3 * L + SLACK, 3},
        {"silence: three tries", "silence", "", 3, "", GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", "", false, 3 * (L - TICK),
         3 * L + SLACK, 3},
        {"silence once, then the retry answers", "silence", "", 1, "", GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n",
         "+CSQ: 17,99\r\nOK\r", true, L - TICK, 2 * L + SLACK, 2},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        sim->request({"clear", "1"});
        g_events.clear();
        if (c.fault)
            sim->fault(1, c.fault, c.arg, c.count, c.extra);
        long ms = 0;
        std::string a = run(c.type, c.cmd, &ms);
        if (c.answer) {
            EXPECT_EQ(a, c.answer);
        }
        auto ev = g_events.wait_for(c.type, "", 10);
        EXPECT_EQ(ev.event_type == c.type, c.notified);
        if (c.notified) {
            EXPECT_EQ(ev.response, a);
        }
        EXPECT_GE(ms, c.min_ms);
        EXPECT_LE(ms, c.max_ms);
        std::string line(c.cmd, strcspn(c.cmd, "\r\n"));
        strings sent = sim->commands(1);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), line), c.sends);
        sim->request({"fault", "1", "clear"});
        std::this_thread::sleep_for(std::chrono::milliseconds(150)); // let late lines drain
    }
}

TEST_F(GsmExchange, IndicationInsideTheEchoGoesToTheCallback)
{
    sim->fault(1, "interrupt", "RING");
    EXPECT_EQ(run(GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n"), "+CSQ: 17,99\r\nOK\r");
    auto ring = g_events.wait_for(0, "RING", 100);
    EXPECT_EQ(ring.event_type, 0);
    EXPECT_EQ(ring.response, "RING");
}

TEST_F(GsmExchange, UnsolicitedLinesReachTheCallbackWithoutTerminators)
{
    sim->inject(1, "\r\n+CMTI: \"SM\",3\r\n\r\nRING\r\n");
    EXPECT_EQ(g_events.wait_for(0, "+CMTI").response, "+CMTI: \"SM\",3");
    EXPECT_EQ(g_events.wait_for(0, "RING").response, "RING");
    for (auto &e : g_events.all())
        EXPECT_NE(e.response, "");
}

TEST_F(GsmExchange, OpenSmsPromptIsClosed)
{
    sim->inject(1, "\r\n> ");
    EXPECT_NE(sim->expect(1, "^$", 10), "x"); // (nothing to wait for: ESC+CR is an empty line)
    std::string t;
    for (int i = 0; i < 6000 && (t = read_file(sim->transcript_path())).find("1 < \\x1b") == std::string::npos; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(t.find("1 < \\x1b"), std::string::npos);
}

TEST_F(GsmExchange, LongAnswerIsBoundedAndKeptIntactUpToTheBound)
{
    sim->fault(1, "many", "AT+COPS", 1, "100x100");
    std::string a = run(GSM_EVENT_TYPE_COPS, "AT+COPS=?\r\n");
    std::string full;
    for (int i = 0; i < 100; i++) {
        char head[8];
        snprintf(head, sizeof head, "%04d", i);
        full += head + std::string(96, 'L') + "\r\n";
    }
    full += "OK\r";
    ASSERT_EQ(a.size(), (size_t)GSM_ANSWER_SIZE - 1);
    EXPECT_EQ(a, full.substr(0, a.size()));
    EXPECT_EQ(g_events.wait_for(GSM_EVENT_TYPE_COPS, "").response, a);
}

// A PDU-mode message record as the spool builds it (the receiver of the
// answer frees it).
static gsm_outgoing_sms *pdu_message()
{
    auto *m = (gsm_outgoing_sms *)calloc(1, sizeof(gsm_outgoing_sms));
    m->number = strdup("0301234");
    m->filename = strdup("m.sms");
    m->msg = strdup("hello");
    m->pdu_mode = 1;
    m->pdu_cmgs_length = 5;
    m->pdu_block = strdup("0011000A\x1a");
    return m;
}

TEST_F(GsmExchange, MessageWhoseEchoIsGarbledIsSentAgainWithoutWaitingOutItsLimit)
{
    // A report announcement cuts into the echo: the modem still opens its
    // prompt, which is closed, and the command goes out again at once.
    sim->fault(1, "interrupt", "+CDS:", 1, "AT+CMGS=");
    char *answer = nullptr;
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CMGS, pdu_message(), nullptr, &answer, 1, 1), 0);
    long ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_NE(answer, nullptr);
    std::string a = answer;
    free(answer);
    EXPECT_NE(a.find("+CMGS: "), std::string::npos) << a;
    EXPECT_LT(ms, gsm_scaled_wait_ms(180000)) << "the lost echo must not hold the port to the limit";
    strings c = sim->commands(1);
    EXPECT_EQ(std::count(c.begin(), c.end(), "AT+CMGS=5"), 2);
    EXPECT_EQ(sim->sms(1), strings{"AT+CMGS=5|0011000A"});
    EXPECT_NE(read_file(sim->transcript_path()).find("1 < \\x1b"), std::string::npos) << "the prompt was closed";
    // The port goes on with the next command.
    EXPECT_EQ(run(GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n"), "+CSQ: 17,99\r\nOK\r");
}

// Both line readers (1 buffered, 0 byte by byte). The reader is chosen
// before the port's threads start, as the daemon's configuration does.
class GsmStop : public GsmExchange, public ::testing::WithParamInterface<int> {
protected:
    GsmStop() { global_gsm_read_method = GetParam(); }
    ~GsmStop() override { global_gsm_read_method = 1; }
};

TEST_P(GsmStop, ShutdownEndsAnExchangeInFlightWithoutWaitingOutItsLimit)
{
    // The modem says nothing to a message: its limit is far longer than a
    // stop may take.
    sim->fault(1, "silence", "", -1);
    std::thread sender([&] {
        char *answer = nullptr;
        EXPECT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CMGS, pdu_message(), nullptr, &answer, 1, 1), 0);
        free(answer);
    });
    EXPECT_EQ(sim->expect(1, "^AT\\+CMGS=", 60000), "AT+CMGS=5");
    auto t0 = std::chrono::steady_clock::now();
    gsm_shutdown();
    started = false;
    long ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    sender.join();
    EXPECT_LT(ms, gsm_scaled_wait_ms(180000) / 2);
    // The message went to its receiver, unanswered.
    auto ev = g_events.wait_for(GSM_EVENT_TYPE_CMGS, "", 10);
    EXPECT_EQ(ev.event_type, GSM_EVENT_TYPE_CMGS);
    EXPECT_EQ(ev.response, "");
    EXPECT_STREQ(libsm_get_port_state_string(1), "KILLED");
}

INSTANTIATE_TEST_SUITE_P(Readers, GsmStop, ::testing::Values(1, 0));

static double cpu_seconds()
{
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

TEST_F(GsmExchange, PortClosedMidCommandEndsItAndTheReaderNeitherSpinsNorHangs)
{
    sim->fault(1, "closeon", "CSQ");
    long ms = 0;
    EXPECT_EQ(run(GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", &ms), "");
    EXPECT_LT(ms, 1000);
    EXPECT_EQ(g_events.wait_for(GSM_EVENT_TYPE_CSQ, "", 10).event_type, -1);
    double c0 = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_LT(cpu_seconds() - c0, 0.2) << "the reader must back off, not spin";
    // Later commands end at once with their error.
    EXPECT_EQ(run(GSM_EVENT_TYPE_CREG, "AT+CREG?\r\n", &ms), "");
    EXPECT_LT(ms, 1000);
    auto t0 = std::chrono::steady_clock::now();
    gsm_shutdown();
    started = false;
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_STREQ(libsm_get_port_state_string(1), "KILLED");
}

TEST_F(GsmExchange, ShutdownEndsQueuedCommandsAndRebootsTheModem)
{
    // The modem holds its answer to the first command while a second caller
    // queues behind it; then the library shuts down.
    sim->fault(1, "slow", "3000", 1);
    std::thread busy([&] { run(GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n"); });
    EXPECT_EQ(sim->expect(1, "^AT\\+CSQ$", 60000), "AT+CSQ");
    char *answer = nullptr;
    std::thread waiter([&] {
        EXPECT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CREG, "AT+CREG?\r\n", nullptr, &answer, 1, 0), 0);
    });
    auto queued = [] {
        gsm_lock_queue(1);
        bool any = gman->gsm_command_queue[1]->first != nullptr;
        gsm_unlock_queue(1);
        return any;
    };
    for (int i = 0; i < 6000 && !queued(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(queued()) << "the second command waits behind the first";
    gsm_shutdown();
    started = false;
    busy.join();
    waiter.join();
    ASSERT_NE(answer, nullptr);
    free(answer);
    strings c = sim->commands(1);
    ASSERT_GE(c.size(), 2u);
    EXPECT_EQ(c.back(), "AT#REBOOT");
    EXPECT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", nullptr, nullptr, 0, 0), -1);
    EXPECT_EQ(sys("0/led_state").substr(0, 1), "0");
}

} // namespace
