// The command lists, the definitions table, the echo collector and the
// answer tidying, without a modem.
#include "gsm_fixture.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <regex.h>
#include <thread>

namespace {

class GsmQueue : public ::testing::Test {
protected:
    std::string root;
    gsm_config_t cfg[GSM_PORT_TABLE] = {};
    gsm_global_config global = {1, nullptr};

    void SetUp() override
    {
        root = gsm_test_root();
        mkdir((root + "/sys").c_str(), 0770);
        mkdir((root + "/sys/class").c_str(), 0770);
        mkdir((root + "/sys/class/kvxgsm").c_str(), 0770);
        write_file(root + "/sys/class/kvxgsm/count", "2\n");
        // No port configured: the library sets up its lists without a modem.
        ASSERT_EQ(gsm_init(gsm_test_callback, cfg, &global), 1);
        libgsm_ctlport[1].port = 1;
        libgsm_ctlport[1].successfully_initialized = 1;
    }
    void TearDown() override
    {
        while (gsm_command *c = get_next_gsm_command(1))
            finish_gsm_command_unanswered(c);
        libgsm_ctlport[1].successfully_initialized = 0;
        libgsm_ctlport[1].port = 0;
        global_gsm_pdu_mode = 0;
        global_gsm_cds_waiting[1] = 0;
        remove_tree(root);
    }
    static gsm_outgoing_sms *sms(const char *name)
    {
        auto *s = (gsm_outgoing_sms *)calloc(1, sizeof(gsm_outgoing_sms));
        s->filename = strdup(name);
        s->number = strdup("+4912345");
        s->msg = strdup("hi");
        return s;
    }
    std::vector<std::string> order()
    {
        std::vector<std::string> v;
        gsm_lock_queue(1);
        for (gsm_command *c = gman->gsm_command_queue[1]->first; c; c = c->list)
            v.push_back(c->event_type == GSM_EVENT_TYPE_CMGS ? ((gsm_outgoing_sms *)c->send_cmd)->filename
                                                             : c->send_cmd);
        gsm_unlock_queue(1);
        return v;
    }
};

TEST_F(GsmQueue, TextModeMovesMessagesBehindOtherCommands)
{
    for (int pdu : {0, 1}) {
        global_gsm_pdu_mode = pdu;
        ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CMGS, sms("a"), nullptr, nullptr, 0, 1), 0);
        ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", nullptr, nullptr, 0, 1), 0);
        ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CMGS, sms("b"), nullptr, nullptr, 0, 1), 0);
        ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CREG, "AT+CREG?\r\n", nullptr, nullptr, 0, 1), 0);
        if (pdu)
            EXPECT_EQ(order(), (std::vector<std::string>{"a", "AT+CSQ\r\n", "b", "AT+CREG?\r\n"}));
        else
            EXPECT_EQ(order(), (std::vector<std::string>{"AT+CSQ\r\n", "AT+CREG?\r\n", "a", "b"}));
        while (gsm_command *c = get_next_gsm_command(1))
            finish_gsm_command_unanswered(c);
    }
}

TEST_F(GsmQueue, RefusalIsReportedAndFreesWhatItTook)
{
    // Not initialised: refused at once, a blocking caller does not wait and
    // its answer slot stays as it was; the message record is freed (ASan).
    libgsm_ctlport[1].successfully_initialized = 0;
    char *slot = (char *)"untouched";
    errno = 0;
    EXPECT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", nullptr, &slot, 1, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_STREQ(slot, "untouched");
    EXPECT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CMGS, sms("x"), nullptr, nullptr, 0, 1), -1);
    // An unknown port: refused with ENODEV.
    EXPECT_EQ(gsm_queue_command(5, GSM_EVENT_TYPE_CSQ, "AT\r\n", nullptr, nullptr, 0, 0), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_EQ(gsm_queue_command(5, GSM_EVENT_TYPE_CMGS, sms("y"), nullptr, nullptr, 0, 1), -1);
    EXPECT_TRUE(order().empty());
}

TEST_F(GsmQueue, PduModeHoldsMessagesWhileAReportIsAwaited)
{
    global_gsm_pdu_mode = 1;
    global_gsm_cds_waiting[1] = 2;
    ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CMGS, sms("a"), nullptr, nullptr, 0, 1), 0);
    EXPECT_EQ(get_next_gsm_command(1), nullptr);
    global_gsm_cds_waiting[1] = 0;
    gsm_command *c = get_next_gsm_command(1);
    ASSERT_NE(c, nullptr);
    finish_gsm_command_unanswered(c);
}

TEST_F(GsmQueue, BlockingCallerIsWokenWithAnEmptyAnswerWhenDrained)
{
    char *answer = nullptr;
    std::thread t([&] {
        EXPECT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", nullptr, &answer, 1, 0), 0);
    });
    gsm_command *c = nullptr;
    for (int i = 0; i < 200 && !c; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        c = get_next_gsm_command(1);
    }
    ASSERT_NE(c, nullptr);
    finish_gsm_command_unanswered(c);
    t.join();
    ASSERT_NE(answer, nullptr);
    EXPECT_STREQ(answer, "");
    free(answer);
}

TEST_F(GsmQueue, ListingSkipsMessagesButCountsThem)
{
    ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CSQ, "AT+CSQ\r\n", nullptr, nullptr, 0, 0), 0);
    global_gsm_pdu_mode = 1;
    ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CMGS, sms("a"), nullptr, nullptr, 0, 1), 0);
    ASSERT_EQ(gsm_queue_command(1, GSM_EVENT_TYPE_CREG, "AT+CREG?\r\n", nullptr, nullptr, 0, 0), 0);
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    list_gsm_queue(1, f, 1);
    fclose(f);
    EXPECT_STREQ(buf, "port 1: 000: ev 16416 AT+CSQ\r\nport 1: 002: ev 16407 AT+CREG?\r\n");
    free(buf);
}

TEST(GsmDefinitions, TableRowsAndNames)
{
    struct {
        int type;
        const char *name;
        int timeout;
        bool busy_ends;
    } rows[] = {
        {GSM_EVENT_TYPE_ATA, "ATA", 5000, false},    {GSM_EVENT_TYPE_ATD, "ATD", 30000, true},
        {GSM_EVENT_TYPE_ATH, "ATH", 5000, true},     {GSM_EVENT_TYPE_CMGS, "CMGS", 180000, false},
        {GSM_EVENT_TYPE_COPS, "COPS", 60000, false}, {GSM_EVENT_TYPE_CSURV, "CSURV", 120000, false},
        {GSM_EVENT_TYPE_GENERIC_LONG, "GENERIC", 60000, false},
        {GSM_EVENT_TYPE_ATV, "AT&V", 5000, false},
    };
    for (auto &r : rows) {
        const auto *d = get_event_description(r.type);
        ASSERT_NE(d, nullptr) << r.name;
        EXPECT_STREQ(gsm_event_to_string(r.type), r.name);
        EXPECT_EQ(d->timeout, r.timeout) << r.name;
        int len = 0;
        EXPECT_EQ(libgsm_regexp("BUSY\r\n", d->end, &len, 0) != nullptr, r.busy_ends) << r.name;
        EXPECT_NE(libgsm_regexp("+CME ERROR: 10\r\n", d->end, &len, 0), nullptr) << r.name;
        EXPECT_EQ(libgsm_regexp("+CSQ: 17,99\r\n", d->end, &len, 0), nullptr) << r.name;
    }
    EXPECT_EQ(get_event_description(GSM_EVENT_TYPE_UNKNOWN), nullptr);
    EXPECT_EQ(get_event_description(GSM_EVENT_TYPE_RING), nullptr);
    EXPECT_STREQ(gsm_event_to_string(GSM_EVENT_TYPE_CMEE), "UNKNOWN");
    EXPECT_STREQ(gsm_event_to_string(16443), "UNKNOWN");
    EXPECT_STREQ(gsm_event_to_string(12), "UNKNOWN");
}

TEST(GsmEcho, CollectorSplitsIndicationsOff)
{
    struct {
        const char *pre;      // echo collected so far
        const char *line;
        const char *ind;      // expected indication (null: none)
        const char *buf;      // echo buffer afterwards
        int complete;
    } cases[] = {
        {"", "AT+CSQ\r", nullptr, "AT+CSQ", 1},
        {"", "AT+C\r\n", nullptr, "AT+C", 0},
        {"AT+C", "RING\r\n", "RING\r\n", "AT+C", 0},
        {"AT+C", "SQ\r", nullptr, "AT+CSQ", 1},
        {"", "AT+CRING\r\n", "RING\r\n", "AT+C", 0},
        {"", "+CMTI: \"SM\",3\r\n", "+CMTI: \"SM\",3\r\n", "", 0},
        {"", "AT+CSQNO CARRIER\r\n", "NO CARRIER\r\n", "AT+CSQ", 1},
    };
    for (auto &c : cases) {
        char buf[64];
        snprintf(buf, sizeof buf, "%s", c.pre);
        int complete = -1;
        const char *ind = echo_collector("AT+CSQ", buf, sizeof buf, c.line, &complete);
        EXPECT_STREQ(ind, c.ind) << c.line;
        EXPECT_STREQ(buf, c.buf) << c.line;
        EXPECT_EQ(complete, c.complete) << c.line;
    }
}

TEST(GsmAnswer, TidyRules)
{
    struct {
        const char *in, *out;
    } cases[] = {
        {"\r\n", ""},
        {"+CSQ: 1\r\n\r\n", "+CSQ: 1\r\n"},
        {"+CSQ: 1\r\n\r\n\r\n", "+CSQ: 1\r\n"},
        {"X\r\r\n", "X\r"},
        {"OK\r\n", "OK\r\n"},
    };
    for (auto &c : cases) {
        char buf[64];
        snprintf(buf, sizeof buf, "%s", c.in);
        gsm_answer_tidy(buf);
        EXPECT_STREQ(buf, c.out) << c.in;
    }
}

TEST(GsmRegexp, MatchesAndCopies)
{
    int len = 0;
    const char *m = libgsm_regexp("+CMTI: \"SM\",12", "(SM|ME)", &len, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(std::string(m, len), "SM");
    EXPECT_EQ(libgsm_regexp("abc", "(", &len, 0), nullptr);
    EXPECT_EQ(errno, ECANCELED);
    EXPECT_EQ(libgsm_regexp(nullptr, "a", &len, 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(libgsm_regexp("abc", "x*", &len, 0), nullptr); // empty match
    char *c = libgsm_regexp2("num=+49123\n", "num=.+", REG_NEWLINE);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c, "num=+49123");
    free(c);
    EXPECT_EQ(libgsm_regexp2("x", "y", 0), nullptr);
    EXPECT_EQ(errno, ERANGE);
}

} // namespace
