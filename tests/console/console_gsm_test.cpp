// The GSM console commands without a modem: the operator list parser, the
// signal and technology texts, the stored USSD answers, the text
// conversions and the refusals that send nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console_test_util.h"
#include "global_lock.h"
#include "mc_gsm.h"
#include "mc_options.h"

namespace {

class ConsoleGsm : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        console_test_application(1);
        mc_init_options();
    }
    void TearDown() override
    {
        lock_hold hold(&lock_manager::gsm_cusd_lock);
        for (int p = 0; p < 7; p++) {
            free(gp->gsm_cusd_send_buffer[p]);
            free(gp->gsm_cusd_response_buffer[p]);
            gp->gsm_cusd_send_buffer[p] = gp->gsm_cusd_response_buffer[p] = nullptr;
        }
    }
};

std::string group(int stat, const std::string &name, int numeric, int act)
{
    return "(" + std::to_string(stat) + ",\"" + name + "\",\"" + name.substr(0, 3) + "\",\"" +
           std::to_string(numeric) + "\"," + std::to_string(act) + ")";
}

TEST_F(ConsoleGsm, OperatorListParser)
{
    std::string sixteen = "+COPS: ";
    for (int i = 0; i < 16; i++)
        sixteen += (i ? "," : "") + group(1, "Op" + std::to_string(i), 26200 + i, 2);
    struct {
        const char *name;
        std::string answer;
        int count;
        int first_numeric, last_numeric;
    } cases[] = {
        {"two groups, then the ranges after ,,",
         "+COPS: (2,\"SimNet\",\"SimN\",\"26201\",7),(1,\"Other\",\"Oth\",\"26202\",2),,(0-4),(0-2)\r\nOK", 2, 26201,
         26202},
        {"without the prefix", group(3, "Bar", 26203, 0), 1, 26203, 26203},
        {"a group without its closing parenthesis is dropped",
         "+COPS: (1,\"A\",\"A\",\"1\",2),(1,\"B\",\"B\",\"2\",2,,(0-4)", 1, 1, 1},
        {"a group without its opening parenthesis is dropped",
         "+COPS: 1,\"A\",\"A\",\"1\",2),(1,\"B\",\"B\",\"2\",2),,(0-4)", 1, 2, 2},
        {"sixteen groups keep fifteen", sixteen, 15, 26200, 26214},
        {"nothing", "", 0, 0, 0},
        {"a short group", "+COPS: (1,\"A\",2)", 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        gsm_operator_scan_result r[GSM_OPERATOR_SCAN_SLOTS];
        int n = gsm_parse_cops_list(c.answer.c_str(), r, GSM_OPERATOR_SCAN_SLOTS);
        ASSERT_EQ(n, c.count);
        if (n) {
            EXPECT_EQ(r[0].numeric, c.first_numeric);
            EXPECT_EQ(r[n - 1].numeric, c.last_numeric);
        }
    }
    gsm_operator_scan_result r[2];
    ASSERT_EQ(gsm_parse_cops_list("+COPS: (2,\"Long Name  \",\"Sh\",\"26201\",7)", r, 2), 1);
    EXPECT_EQ(r[0].status, 2);
    EXPECT_STREQ(r[0].long_alphanumeric, "Long Name");
    EXPECT_STREQ(r[0].short_alphanumeric, "Sh");
    EXPECT_EQ(r[0].access_technology, 7);
    std::string long_name = "+COPS: (1,\"" + std::string(40, 'x') + "\",\"s\",\"1\",0)";
    ASSERT_EQ(gsm_parse_cops_list(long_name.c_str(), r, 2), 1);
    EXPECT_EQ(strlen(r[0].long_alphanumeric), 31u);
}

TEST_F(ConsoleGsm, SignalAndTechnologyTexts)
{
    char b[64];
    struct {
        int v;
        const char *rssi, *ber;
    } cases[] = {
        {0, "< -113 dBm", "< 0.2%"},          {1, "-111 dBm", "0.2% - 0.4%"}, {7, "-99 dBm", "> 12.8%"},
        {30, "-53 dBm", "unknown bit error rate"}, {31, "> -51 dBm", "unknown bit error rate"},
        {99, "99 => UNKNOWN", "unknown bit error rate"}, {-1, "-1 => UNKNOWN", "unknown bit error rate"},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(gsm_rssi_to_string(c.v, b, sizeof b), c.rssi) << c.v;
        EXPECT_STREQ(gsm_ber_to_string(c.v, b, sizeof b), c.ber) << c.v;
    }
    EXPECT_STREQ(get_gsm_access_tech_string(0), "GSM");
    EXPECT_STREQ(get_gsm_access_tech_string(7), "E-UTRAN/LTE/4G");
    EXPECT_STREQ(get_gsm_access_tech_string(8), "unknown");
    EXPECT_STREQ(get_gsm_access_tech_string(-1), "unknown");
}

TEST_F(ConsoleGsm, Conversions)
{
    struct {
        const char *line, *answer;
    } cases[] = {
        {"futf8Hi", "UCS2: |00480069|\n\r\n"}, {"fucs200480069", "UTF8: |Hi|\n\r\n"},
        {"fgsmC8329BFD06", "UTF8: |Hello|\n\r\n"}, {"fgsmzz", "UTF8: ||\n\r\n"},
        {"fucs2zz", "UTF8: ||\n\r\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(dispatcher_answer(c.line), c.answer) << c.line;
}

TEST_F(ConsoleGsm, StoredUssdAnswers)
{
    EXPECT_EQ(dispatcher_answer("ussds"), "\r\n");
    struct {
        int port;
        const char *code, *answer, *shown;
    } cases[] = {
        {1, "*100#", nullptr, "NO RESPONSE\n"},
        {2, "*101#", "+CUSD: 0,\"00480069\",15", "RESPONSE [0] => Hi\n"},
        {3, "*102#", "+CUSD: 2", "NO TEXT RESPONSE [2]\n"},
        {4, "*103#", "", "NO TEXT RESPONSE [-1]\n"},
        {5, "*104#", "+CUSD: 1,\"zz\",15", "NO TEXT RESPONSE [1]\n"},
    };
    std::string want;
    {
        lock_hold hold(&lock_manager::gsm_cusd_lock);
        for (const auto &c : cases) {
            gp->gsm_cusd_send_buffer[c.port] = strdup(c.code);
            gp->gsm_cusd_response_buffer[c.port] = c.answer ? strdup(c.answer) : nullptr;
            want += "GSM PORT " + std::to_string(c.port) + ": |" + c.code + "|\n" + c.shown;
        }
    }
    EXPECT_EQ(dispatcher_answer("ussds"), want + "\r\n");
    EXPECT_EQ(dispatcher_answer("ussdc0"), "invalid port 0\n\r\n");
    EXPECT_EQ(dispatcher_answer("ussdc7"), "invalid port 7\n\r\n");
    EXPECT_EQ(dispatcher_answer("ussdr"), "\r\n");
    EXPECT_EQ(dispatcher_answer("ussds"), "\r\n");
}

TEST_F(ConsoleGsm, RefusalsSendNothing)
{
    struct {
        const char *line, *answer;
    } cases[] = {
        {"ussd:9:*100#", "invalid port 9\n"},
        {"ussd:12:*100#", "invalid string\n"},
        {"at 1:AT", "Invalid Command Format  1:AT\n"},
        {"at7:AT", "Invalid GSM port 7\n"},
        {"at0:AT", "Invalid GSM port 0\n"},
        {"ats1", "Invalid Command Format 1\n"},
        {"at1:AT", "GSM port 1 not ready\n"},
        {"goret0", "Invalid Port 0\n"},
        {"goret7", "Invalid Port 7\n"},
        {"goshow7", "Invalid Port 7\n"},
        {"goset1:5:x", "gop_set: invalid mode 5\n"},
        {"gofset1:1:3:x", "gop_set: invalid format 3\n"},
        {"goset12:1:x", "Invalid format |12:1:x|\n"},
        {"gsmpins0", "invalid port 0 given\n"},
        {"gsmpins7", "invalid port 7 given\n"},
        {"gsmpinsx", "invalid port x given\n"},
        {"gsmpin1", "invalid syntax |1|\n"},
        {"gsmpin0:1:2", "invalid port 0 given\n"},
        {"gsmpin8:1234:5678", "invalid port 8 given\n"},
        {"gsmpin1:1234", "new pin wasn't given\n"},
        {"gsmpin1:12a4:5678", "invalid syntax |1:12a4:5678|\n"},
        {"gsmpin1:1234:123", "invalid syntax |1:1234:123|\n"},
        {"gsmpin1:1234:123456789", "invalid syntax |1:1234:123456789|\n"},
        {"gsmpin1::", "Setting GSM PIN on Port 1 from || to ||\nPlease pass pins\n"},
        {"rgp0", "invalid port 0 given\n"},
        {"rgp1", "port 1 not configured\n"},
        {"poogli0", "line interface 0 is not gsm\n"},
        {"poogli3", "line interface 3 is not gsm\n"},
        {"rgc", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(dispatcher_answer(c.line), std::string(c.answer) + "\r\n") << c.line;
}

} // namespace
