// Console commands of the log files, the network log, the verbose and debug
// streams, the CAS trace, the message log, the call statistics and the
// rejection of registrations, through the dispatcher.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_statistics.h"
#include "conf_root.h"
#include "console.h"
#include "console_test_util.h"
#include "experimental_options.h"
#include "log.h"
#include "log_backend.h"
#include "mc_options.h"

namespace {

std::vector<std::string> nlines, caslines;

void keep_nmessage(int level, int, const char *, int, const char *format, va_list ap)
{
    char buf[512];
    vsnprintf(buf, sizeof buf, format, ap);
    nlines.push_back(std::to_string(level) + " " + buf);
}

void keep_cas(int port, int type, const char *format, va_list ap)
{
    char buf[512];
    vsnprintf(buf, sizeof buf, format, ap);
    caslines.push_back(std::to_string(port) + ":" + std::to_string(type) + " " + buf);
}

// A stream whose text can be read back.
struct mem_stream {
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    ~mem_stream()
    {
        if (f)
            fclose(f);
        free(buf);
    }
    size_t taken = 0;
    // What was written since the last take().
    std::string take()
    {
        fflush(f);
        std::string s(buf + taken, size - taken);
        taken = size;
        return s;
    }
    std::string run(const char *line)
    {
        int st = 0;
        mc_handle_input(line, f, &st);
        return take();
    }
};

class ReloadCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        console_test_application(2);
        mc_init_options();
    }
    void SetUp() override
    {
        nlines.clear();
        caslines.clear();
    }
};

TEST_F(ReloadCommands, StatisticsAndRegistrationRejection)
{
    gp->callstat.counter_sip_to_sip = 7;
    EXPECT_EQ(dispatcher_answer("sr"), "Resetted call statistics\n\r\n");
    EXPECT_EQ(gp->callstat.counter_sip_to_sip, 0u);
    EXPECT_EQ(dispatcher_answer("reject_register"), "Now rejecting register requests\r\n");
    EXPECT_EQ(gp->reject_register, 1);
    EXPECT_EQ(dispatcher_answer("reject_register"), "Now accepting register requests\r\n");
    EXPECT_EQ(gp->reject_register, 0);
}

TEST_F(ReloadCommands, MessageLogLinesAndCasTraceMarkers)
{
    LogFuncMessage saved_n = log_out_nmessage;
    LogFuncCAS saved_c = log_out_cas;
    int saved_enabled = log_levels_nmessage_enabled;
    log_out_nmessage = keep_nmessage;
    log_out_cas = keep_cas;
    log_levels_nmessage_enabled = 1;
    int saved_cas = log_cas_enabled;
    log_cas_enabled = 0;

    EXPECT_EQ(dispatcher_answer("nlog3:hello"), "\r\n");
    dispatcher_answer("nlog3hello");
    dispatcher_answer("nlog3");
    dispatcher_answer("nlogx:bad");
    EXPECT_EQ(nlines, std::vector<std::string>{"3 hello\n"});

    EXPECT_EQ(dispatcher_answer("caslog"), "cas log: 0\n\r\n");
    EXPECT_EQ(dispatcher_answer("caslog1"), "cas log: 1\n\r\n");
    EXPECT_EQ(dispatcher_answer("caslog1"), "cas log: 1\n\r\n");
    EXPECT_EQ(dispatcher_answer("caslog2"), "cas log: 2\n\r\n");
    dispatcher_answer("caslog1");
    EXPECT_EQ(dispatcher_answer("caslog0"), "cas log: 0\n\r\n");
    // START once when it goes on, STOP once when it goes off (the trace
    // handler is only asked while the flag is on).
    int starts = 0, stops = 0;
    for (const std::string &l : caslines) {
        starts += l == "0:4 CASLOG START\n";
        stops += l == "0:4 CASLOG STOP\n";
    }
    EXPECT_GE(starts, 1);
    EXPECT_EQ(stops, 1);

    log_out_nmessage = saved_n;
    log_out_cas = saved_c;
    log_levels_nmessage_enabled = saved_enabled;
    log_cas_enabled = saved_cas;
}

TEST_F(ReloadCommands, LogRotationAndFullTraceMarkers)
{
    conf_root root(false);
    std::string a = root.path("tarn.log"), b = root.path("tarn.log.1");
    update_logrotate_list((a + "," + b).c_str());
    log_backend_state *lb = log_backend();
    pthread_mutex_lock(log_fp_lock());
    lb->logrotate_fp = fopen(a.c_str(), "w");
    fputs("old\n", lb->logrotate_fp);
    pthread_mutex_unlock(log_fp_lock());
    EXPECT_EQ(dispatcher_answer("logflush"), "\r\n");
    EXPECT_EQ(read_text_file(a), "old\n");
    EXPECT_EQ(dispatcher_answer("logrotate"), "\r\n");
    EXPECT_EQ(read_text_file(b), "old\n");

    // A full trace starts with fresh, empty files.
    dispatcher_answer("nlog0::Fulltrace started");
    pthread_mutex_lock(log_fp_lock());
    ASSERT_NE(lb->logrotate_fp, nullptr);
    pthread_mutex_unlock(log_fp_lock());
    EXPECT_EQ(read_text_file(a), "");
    pthread_mutex_lock(log_fp_lock());
    fclose(lb->logrotate_fp);
    lb->logrotate_fp = nullptr;
    if (lb->nlogrotate_fp)
        fclose(lb->nlogrotate_fp);
    lb->nlogrotate_fp = nullptr;
    pthread_mutex_unlock(log_fp_lock());
    update_logrotate_list("");
}

TEST_F(ReloadCommands, NetworkLogSwitches)
{
    int rx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(rx, (sockaddr *)&a, sizeof a), 0);
    socklen_t l = sizeof a;
    getsockname(rx, (sockaddr *)&a, &l);
    std::string port = std::to_string(ntohs(a.sin_port));

    update_netlog_target("127.0.0.1", port.c_str());
    stop_netlog();
    EXPECT_EQ(dispatcher_answer("ts"), "Netlog is off\n\r\n");
    EXPECT_EQ(dispatcher_answer("t1"), "Netlog is now on\n\r\n");
    EXPECT_EQ(dispatcher_answer("ts"), "Netlog is on: 127.0.0.1:" + port + "\n\r\n");
    EXPECT_EQ(dispatcher_answer("t"), "Netlog is now off\n\r\n");
    EXPECT_EQ(dispatcher_answer("t"), "Netlog is now on\n\r\n");
    EXPECT_EQ(dispatcher_answer("t0"), "Netlog is now off\n\r\n");
    update_netlog_target("", "");
    EXPECT_EQ(dispatcher_answer("t1"), "Couldn't start netlog\n\r\n");
    close(rx);
}

TEST_F(ReloadCommands, VerboseAndDebugStreamsGoToOneClient)
{
    conf_root root(false);
    log_backend_state *lb = log_backend();
    snprintf(lb->vlogfilepath, sizeof lb->vlogfilepath, "%s", root.path("verbose.log").c_str());
    mem_stream a, b;
    EXPECT_EQ(a.run("verbose"), "verbose ON.\n\r\n");
    pthread_mutex_lock(log_fp_lock());
    EXPECT_EQ(lb->verbose_fp, a.f);
    EXPECT_NE(lb->verbose_outfile_fp, nullptr);
    pthread_mutex_unlock(log_fp_lock());
    EXPECT_EQ(a.run("verbose"), "verbose Off.\n\r\n");
    pthread_mutex_lock(log_fp_lock());
    EXPECT_EQ(lb->verbose_fp, nullptr);
    EXPECT_EQ(lb->verbose_outfile_fp, nullptr);
    EXPECT_EQ(lb->verbose_outfile_logging.load(), 0);
    pthread_mutex_unlock(log_fp_lock());
    EXPECT_EQ(a.run("verbose1"), "\r\n");
    EXPECT_EQ(b.run("verbose0"), "\r\n");
    pthread_mutex_lock(log_fp_lock());
    EXPECT_EQ(lb->verbose_fp, nullptr);
    pthread_mutex_unlock(log_fp_lock());

    EXPECT_EQ(a.run("dbg"), "Debug On.\n\r\n");
    EXPECT_EQ(b.run("dbg"), "Debug On.\n\r\n");
    EXPECT_EQ(a.take(), "Debug Off.\n");
    pthread_mutex_lock(log_fp_lock());
    EXPECT_EQ(lb->debug_fp, b.f);
    pthread_mutex_unlock(log_fp_lock());
    EXPECT_EQ(b.run("dbg"), "Debug Off.\n\r\n");
    pthread_mutex_lock(log_fp_lock());
    EXPECT_EQ(lb->debug_fp, nullptr);
    pthread_mutex_unlock(log_fp_lock());
    lb->vlogfilepath[0] = '\0';
}

TEST_F(ReloadCommands, LineTestsAndDiagnostics)
{
    const struct {
        const char *line, *answer;
    } rows[] = {
        {"tg", "BEFORE LOCK\nDURING LOCK\nAFTER LOCK\n\r\n"},
        {"memalloc0", "not allocating 0 bytes\n\r\n"},
        {"memalloc5", "allocating 5 bytes\n\r\n"},
        {"memalloc7", "releasing 5 bytes\nallocating 7 bytes\n\r\n"},
        {"memalloc0", "releasing 7 bytes\nnot allocating 0 bytes\n\r\n"},
        {"analog_offhook99", "error:analog_port_99_invalid\n\r\n"},
        {"wink2:100", "\r\n"},
        {"wink2:100:300", "PORT 2 OFFSET 100 DURATION 300\n\r\n"},
        {"pclip+CLIP: \"0301234\",129", "CLIP |0301234|\n\r\n"},
        {"pclipgarbage", "\r\n"},
        {"pdu5", "\r\n"},
        {"pdu", "5\n\r\n"},
        {"pdu0", "\r\n"},
        {"pdu", "0\n\r\n"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(dispatcher_answer(r.line), r.answer) << r.line;
    snprintf(gp->firmware_version, sizeof gp->firmware_version, "\"1.2 beta\" x");
    EXPECT_EQ(dispatcher_answer("version"), "1.2-beta-x\n\r\n");
    gp->firmware_version[0] = '\0';

    mem_stream a;
    a.run("snmplog");
    pthread_mutex_lock(log_fp_lock());
    EXPECT_EQ(log_backend()->snmp_notify_fp, a.f);
    log_backend()->snmp_notify_fp = nullptr;
    pthread_mutex_unlock(log_fp_lock());
}

TEST_F(ReloadCommands, ExperimentalOptions)
{
    _parse_experimental_options("dns_cache=1");
    std::string all = dispatcher_answer("leo");
    EXPECT_EQ(all.rfind("analog_cid_sdmf_offset=", 0), 0u) << all;
    EXPECT_NE(all.find("\ndns_cache=1\n"), std::string::npos) << all;
    EXPECT_EQ(all.find("gsm_cbm_enable="), std::string::npos);
    EXPECT_NE(all.find("\nreplaces_force_contact=0\n\r\n"), std::string::npos) << all;
    int lines = 0;
    for (char c : all)
        lines += c == '\n';
    EXPECT_EQ(lines, 86 + 1); // 88 options less the two hidden ones, then the dispatcher's line end

    EXPECT_EQ(dispatcher_answer("seo:  dns_cache"), "dns_cache=1\n\r\n");
    EXPECT_EQ(dispatcher_answer("seodns"), "Unknown experimental option: dns\n\r\n");
    EXPECT_EQ(dispatcher_answer("seo:"), "Missing experimental option\n\r\n");
    gp->show_hidden_eo = 1;
    EXPECT_EQ(dispatcher_answer("seogsm_cbm_enable"), "gsm_cbm_enable=0\n\r\n");
    EXPECT_EQ(gp->show_hidden_eo, 0);
}

} // namespace
