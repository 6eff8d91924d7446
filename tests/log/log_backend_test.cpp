#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "log_test_util.h"

namespace {

class Backend : public LogDir {
protected:
    std::string stream_path;
    void SetUp() override
    {
        LogDir::SetUp();
        stream_path = path("stream");
        log_backend()->debug_fp = fopen(stream_path.c_str(), "w");
    }
    std::string stream() { return untimed(slurp(stream_path)); }
};

std::string pad(const std::string &s, size_t w)
{
    return s.size() >= w ? s : s + std::string(w - s.size(), ' ');
}

struct Shape {
    const char *name;
    std::function<void()> emit;
    std::string line;
};

TEST_F(Backend, LinesHaveTheirShapes)
{
    const std::string fn30 = pad("func", 30);
    const std::string long_text(3000, 'x');
    const std::string long_fn(5000, 'f');
    const Shape shapes[] = {
        {"debug line without call tag",
         [] { log_msg_debug(3, SIP, "/src/a/file.cpp", 42, "func", nullptr, "hello %d", 7); },
         "<135>TS|LV3 SIP      file.cpp (42)        : CID:000000:00: " + fn30 + ": hello 7\n"},
        {"debug line with call tag and facility 23",
         [] {
             log_backend()->syslog_facility = 23;
             log_msg_debug(0, TARN, "main.cpp", 7, "func", "CID:000012:p1", "x");
             log_backend()->syslog_facility = 16;
         },
         "<191>TS|LV0 TARN     main.cpp (7)         : CID:000012:p1: " + fn30 + ": x\n"},
        {"notice of level word 18 in MSP",
         [] { log_msg_message(18, MSP, "f.cpp", 1, "up %s", "now"); },
         "<135> MSG_2_MSP      : up now\n"},
        {"error of level word 32", [] { log_msg_message(32, TARN, "f.cpp", 1, "bad"); },
         "<135> ERR_0_TARN     : bad\n"},
        {"notice of level word 17 in CAS", [] { log_msg_message(17, CAS, "f.cpp", 1, "c"); },
         "<135> MSG_1_CAS      : c\n"},
        {"legacy line", [] { log_msg_legacy(4, GSM, "dir/old.c", 9, "old %s", "way"); },
         "<135>TS|LV4 GSM      old.c (9)            : old way\n"},
        {"legacy line of an unknown module", [] { log_msg_legacy(1, 12, "old.c", 9, "who"); },
         "<135>TS|LV1 unknown module old.c (9)            : who\n"},
        {"text cut at 2047 characters",
         [&] { log_msg_message(16, ISDN, "f.cpp", 1, "%s", long_text.c_str()); },
         "<135> MSG_0_ISDN     : " + std::string(2047, 'x') + "\n"},
        {"line cut at 4095 characters still ends its line",
         [&] { log_msg_debug(1, TIMER, "f.cpp", 1, long_fn.c_str(), nullptr, "t"); },
         ("<135>TS|LV1 TIMER    f.cpp (1)            : CID:000000:00: " + long_fn)
                 .substr(0, 4094 - 22) + "\n"},
    };
    for (const Shape &s : shapes) {
        SCOPED_TRACE(s.name);
        ftruncate(fileno(log_backend()->debug_fp), 0);
        rewind(log_backend()->debug_fp);
        s.emit();
        EXPECT_EQ(stream(), s.line);
    }
}

TEST_F(Backend, UnknownModuleIsReportedOnStandardError)
{
    std::string err = path("stderr");
    fflush(stderr);
    int saved = dup(2);
    int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    log_msg_legacy(1, 12, "old.c", 9, "who");
    fflush(stderr);
    dup2(saved, 2);
    close(fd);
    close(saved);
    EXPECT_EQ(slurp(err), "logger: BAD MODULE NAME !!!\n");
}

TEST_F(Backend, SipDebugHandlerNamesSipAndDropsLineEnds)
{
    log_set_log_handler_debug(tarn_log_out_debug_sip_debug);
    log_msg_debug(2, ISDN, "s.cpp", 3, "f", nullptr, "INVITE\r\n");
    EXPECT_EQ(stream(), "<135>TS|LV2 SIP      s.cpp (3)            : CID:000000:00: " +
                            pad("f", 30) + ": INVITE\n");
}

TEST_F(Backend, HelpersTable)
{
    EXPECT_STREQ(get_text_for_loglevel(0), "CRITICAL: ");
    EXPECT_STREQ(get_text_for_loglevel(2), "CRITICAL: ");
    EXPECT_STREQ(get_text_for_loglevel(3), "");
    EXPECT_STREQ(get_text_for_loglevel(-1), "");
    const char *names[] = {"TARN   ", "ISDN   ", "MSP", "SIP    ", "GSM   ",
                           "TIMER  ", "SMACH ", "ANALOG ", "CAS "};
    for (int m = 0; m < MODULECOUNT; m++)
        EXPECT_STREQ(tarn_log_get_module_name(m), names[m]);
    EXPECT_STREQ(tarn_log_get_module_name(9), "unknown module");
    char ts[32];
    format_current_time(ts, sizeof ts);
    EXPECT_EQ(untimed(ts), "TS");
}

// ---- rotating files ---------------------------------------------------------

void flush_debug_file()
{
    pthread_mutex_lock(log_fp_lock());
    if (log_backend()->logrotate_fp)
        fflush(log_backend()->logrotate_fp);
    pthread_mutex_unlock(log_fp_lock());
}

long size_of(const std::string &p)
{
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? (long)st.st_size : -1;
}

TEST_F(Backend, DebugLogRotatesToNumberedGenerations)
{
    const std::string g1 = path("tarn.log.1"), g2 = path("tarn.log.2");
    spit(g1, "previous run\n");
    update_logrotate_list((g1 + "," + g2).c_str());
    log_backend()->logsizelimit = 1000;

    // The first line moves the previous run's file one generation up.
    LOGD(TARN, 1, nullptr, "first");
    flush_debug_file();
    EXPECT_EQ(slurp(g2), "previous run\n");
    EXPECT_NE(slurp(g1).find("first"), std::string::npos);

    const std::string text(100, 'r');
    long line_len = size_of(g1);
    int n = 1;
    while (slurp(g2) == "previous run\n" && n < 100) {
        LOGD(TARN, 1, nullptr, "%s", text.c_str());
        n++;
        flush_debug_file();
    }
    // The line that took the file past its limit is the last one in it.
    long s2 = size_of(g2);
    EXPECT_GT(s2, 1000);
    EXPECT_LE(s2, 1000 + line_len + 100);
    EXPECT_EQ(size_of(g1), 0);
    LOGD(TARN, 1, nullptr, "after");
    flush_debug_file();
    EXPECT_NE(slurp(g1).find("after"), std::string::npos);
    // The debug stream saw every line.
    std::string all = stream();
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), n + 1);
}

TEST_F(Backend, DebugLogFileHoldsEachLineWholeOnceLogged)
{
    // What another process (or whoever reads after a crash) sees in the
    // file, without any flush from here: every line logged so far, each
    // whole, also one near the longest a line can be.
    const std::string g1 = path("whole.1");
    update_logrotate_list(g1.c_str());
    log_backend()->logsizelimit = 1000000;
    const std::string big(2000, 'b');
    const char *const texts[] = {"short", big.c_str(), "after the long one"};
    std::string seen;
    for (const char *t : texts) {
        LOGD(TARN, 1, nullptr, "%s", t);
        seen = slurp(g1);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), '\n') << "a line cut at the end of the file";
        EXPECT_NE(seen.find(std::string(": ") + t + "\n"), std::string::npos) << t;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), '\n'), 3);
}

TEST_F(Backend, NmessageLogRotatesAndFlushesEachLine)
{
    const std::string g1 = path("n.1"), g2 = path("n.2"), g3 = path("n.3");
    update_nlogrotate_list((",," + g1 + ",," + g2 + "," + g3 + ",").c_str());
    EXPECT_EQ(log_backend()->nlogrotate_listcount, 3);
    log_backend()->nlogsizelimit = 200;
    LOGN(SIP, 2, "trace %d\n\n", 1);
    EXPECT_EQ(untimed(slurp(g1)), "TS|LV2-SIP     : trace 1\n");
    for (int i = 0; i < 20; i++)
        LOGN(MSP, 1, "%s", std::string(40, 'n').c_str());
    EXPECT_TRUE(exists(g2));
    EXPECT_TRUE(exists(g3));
    EXPECT_GT(size_of(g3), 200);
    EXPECT_GT(size_of(g2), 200);
    // Never to the debug stream.
    EXPECT_EQ(stream(), "");
}

TEST_F(Backend, EmptyListGivesNoFileAndUnopenableFileIsReported)
{
    update_logrotate_list(",,");
    EXPECT_EQ(log_backend()->logrotate_listcount, 0);
    LOGD(TARN, 1, nullptr, "stream only");
    EXPECT_EQ(log_backend()->logrotate_fp, nullptr);
    EXPECT_NE(stream().find("stream only"), std::string::npos);

    const std::string bad = path("missing/tarn.log.1");
    update_logrotate_list(bad.c_str());
    std::string err = path("stderr");
    fflush(stderr);
    int saved = dup(2);
    int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    LOGD(TARN, 1, nullptr, "one");
    LOGD(TARN, 1, nullptr, "two");
    fflush(stderr);
    dup2(saved, 2);
    close(fd);
    close(saved);
    EXPECT_EQ(slurp(err), "failed opening logfile " + bad + " for writing\n" +
                              "failed opening logfile " + bad + " for writing\n");
    EXPECT_NE(stream().find("two"), std::string::npos);
}

TEST_F(Backend, ConsoleRotationRenamesTheOpenFile)
{
    const std::string g1 = path("l.1"), g2 = path("l.2");
    update_logrotate_list((g1 + "," + g2).c_str());
    LOGD(TARN, 1, nullptr, "before");
    pthread_mutex_lock(log_fp_lock());
    rotate_logfiles();
    pthread_mutex_unlock(log_fp_lock());
    LOGD(TARN, 1, nullptr, "after");
    flush_debug_file();
    EXPECT_FALSE(exists(g1));
    std::string moved = slurp(g2);
    EXPECT_NE(moved.find("before"), std::string::npos);
    EXPECT_NE(moved.find("after"), std::string::npos);
}

// ---- CAS trace ----------------------------------------------------------------

TEST_F(Backend, CasTraceTypesAndRotation)
{
    snprintf(log_backend()->cas_log_path, sizeof log_backend()->cas_log_path, "%s", dir.c_str());
    log_backend()->cas_log_filesize_limit = 300;
    const std::string cas = path("tarn_cas.log");
    log_msg_cas(0, CAS_LOG_INFO, "TARN INIT\n");
    EXPECT_EQ(untimed(slurp(cas)), "TS\t000\tINFO\tTARN INIT\n");

    struct {
        int type;
        const char *tag;
    } types[] = {{0, "BSND"}, {1, "BRCV"}, {2, "TSND"}, {3, "TRCV"}, {4, "INFO"}, {7, nullptr}, {-1, nullptr}};
    for (auto &t : types) {
        long before = size_of(cas);
        log_msg_cas(12, t.type, "abcd %d\n", t.type);
        std::string all = untimed(slurp(cas));
        if (t.tag) {
            EXPECT_EQ(all.substr(all.size() - 17), std::string("\t012\t") + t.tag + "\tabcd " +
                                                      std::to_string(t.type) + "\n");
        } else {
            EXPECT_EQ(size_of(cas), before) << t.type;
        }
    }
    // The lock is free again after a type that writes nothing.
    ASSERT_EQ(pthread_mutex_trylock(log_cas_lock()), 0);
    pthread_mutex_unlock(log_cas_lock());

    // Past the limit: one old generation, a fresh file. A text longer than
    // any fixed buffer arrives whole.
    log_msg_cas(1, CAS_LOG_BRCV, "filler %s\n", std::string(300, 'f').c_str());
    const std::string big(5000, 'b');
    log_msg_cas(3, CAS_LOG_TRCV, "%s|%d|%s\n", big.c_str(), 77, "end");
    EXPECT_NE(slurp(cas + ".1").find("TARN INIT"), std::string::npos);
    EXPECT_EQ(untimed(slurp(cas)), "TS\t003\tTRCV\t" + big + "|77|end\n");
}

// ---- verbose and SNMP -----------------------------------------------------------

TEST_F(Backend, VerboseGoesToFileStreamAndDebugLine)
{
    log_backend_state *b = log_backend();
    snprintf(b->vlogfilepath, sizeof b->vlogfilepath, "%s", path("dialplan_debug.log").c_str());
    b->vlogfilemaxsize = 40;
    b->verbose_outfile_logging = 1;
    const std::string vs = path("verbose");
    b->verbose_fp = fopen(vs.c_str(), "w");
    _verbose_msg("/x/dial.cpp", 5, "route", "call %d routed\n", 1);
    _verbose_msg("/x/dial.cpp", 6, "route", "call %d routed to a long destination\n", 2);
    _verbose_msg("/x/dial.cpp", 7, "route", "call %d\n", 3);
    // The file stops taking text once it has reached its size.
    EXPECT_EQ(slurp(path("dialplan_debug.log")),
              "call 1 routed\ncall 2 routed to a long destination\n");
    EXPECT_EQ(slurp(vs), "call 1 routed\ncall 2 routed to a long destination\ncall 3\n");
    EXPECT_NE(stream().find("|LV1 TARN     dial.cpp (7)         : CID:000000:00: " + pad("route", 30) +
                            ": VERBOSEMSG: call 3\n"),
              std::string::npos);

    const std::string sn = path("snmp");
    _tarn_snmp_msg("SNMP:SIP_RELOAD:%s\n", "started"); // no stream: nothing
    b->snmp_notify_fp = fopen(sn.c_str(), "w");
    _tarn_snmp_msg("SNMP:SIP_RELOAD:%s\n", "started");
    EXPECT_EQ(slurp(sn), "SNMP:SIP_RELOAD:started\n");
}

} // namespace
