// The GSM event handler fed with gsm_command records as the modem library
// hands them over: the call events it turns lines and answers into (on a
// recording machine), modem DTMF by eo_ltedtmf, the port information of the
// answers, the registration counter, the profile listing, cell-broadcast
// PDUs, USSD answers, the SMS results, and what it refuses.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "application.h"
#include "call_reset.h"
#include "callctl_world.h"
#include "confman.h"
#include "debug_lines.h"
#include "dialplan.h"
#include "experimental_options.h"
#include "gsm_events.h"
#include "gsm_events_intern.h"
#include "gsm_lib.h"
#include "gsm_status.h"
#include "log.h"
#include "log_backend.h"
#include "media_callctl.h"
#include "pools.h"
#include "call_lookups.h"
#include "schema.h"
#include "sm_events.h"
#include "sm_run.h"
#include "timer.h"

namespace fs = std::filesystem;

namespace {

std::vector<int32_t> seen; // the words the machine got

SM_ACTION(record)
{
    (void)p, (void)arg, (void)state;
    seen.push_back(event);
    return {SM_NO_DECISION, SM_ROW_EVENT};
}
const statemachine_transition rows[] = {
    /* 1 */ {SM_ANY, SM_ANY, SM_KEEP_STATE, SM_NO_EVENT, record},
};
int32_t send_nothing(void *, void *, int32_t) { return 0; }

std::vector<int> dtmf_digits; // digits process_dtmf got
std::vector<int> dtmf_flag;   // got_sip_info_dtmf during the call
void record_dtmf(int from_ip, call_object *co, int digit)
{
    EXPECT_EQ(from_ip, 0); // from the line side
    dtmf_digits.push_back(digit);
    dtmf_flag.push_back(co->f.got_sip_info_dtmf);
}

// Message lines (LOGM) of module GSM.
std::mutex message_mutex;
std::vector<std::string> messages;
void on_message(int, int module, const char *, int, const char *format, va_list ap)
{
    if (module != GSM)
        return;
    char buf[1024];
    vsnprintf(buf, sizeof buf, format, ap);
    std::lock_guard<std::mutex> g(message_mutex);
    messages.push_back(buf);
}

int32_t no_expiry(int32_t, kv_timer *) { return 0; }

time_t fake_now;
time_t fake_clock() { return fake_now; }

constexpr int32_t gsm_word(int type) { return sm_gsm(type); }

class GsmEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(callctl_world(4));
        gp->experimental_options = &eo_;
        seen.clear();
        dtmf_digits.clear();
        dtmf_flag.clear();
        messages.clear();
        old_message_ = log_out_message;
        old_enabled_ = log_levels_message_enabled;
        log_set_log_handler_message(on_message);
        log_levels_message_enabled = 1;
        for (int m = 0; m < MODULECOUNT; m++)
            log_set_loglevel_message(m, 9);
        gsm_events_now = fake_clock;
        fake_now = 1000;
        memset(gsm_cbm_expected, 0, sizeof gsm_cbm_expected);
        memset(gsm_cds_expected, 0, sizeof gsm_cds_expected);
        dir_ = fs::temp_directory_path() / ("gsm-events." + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        for (int p = 1; p < GSM_PORT_TABLE; p++)
            gsm_reset_advanced_settings(p);
    }
    void TearDown() override
    {
        for (call_object *co : calls_)
            release(co);
        calls_.clear();
        log_set_log_handler_message(old_message_);
        log_levels_message_enabled = old_enabled_;
        gsm_events_now = nullptr;
        gp->experimental_options = nullptr;
        media_set_callctl_iface(nullptr);
        timer_exit();
        fs::remove_all(dir_);
    }

    call_object *call_on_port(int port, uint32_t state)
    {
        call_object *co = get_free_operation_handle(1);
        EXPECT_NE(co, nullptr);
        co->callinfo = CI_GSM_TO_SIP;
        co->gsm_port = port;
        co->sm = statemachine_create(co, (int32_t)state, rows, 1, send_nothing, nullptr);
        co->sm_state = state;
        calls_.push_back(co);
        return co;
    }
    void release(call_object *co)
    {
        statemachine_destroy(co->sm);
        co->sm = nullptr;
        co->gsm_port = 0; // no modem port of the library to release
        lock_hold hold(&lock_manager::global_lock);
        reset_op(co);
    }
    // An unsolicited line of port.
    void line(int port, const char *text)
    {
        std::string copy = text;
        gsm_command c{};
        c.port = port;
        c.response = copy.data();
        gsm_event_handler(&c);
    }
    // The answer of a sent command.
    void answer(int port, int type, const char *sent, const char *text)
    {
        std::string s = sent, t = text;
        gsm_command c{};
        c.event_type = type;
        c.port = port;
        c.send_cmd = s.data();
        c.response = t.data();
        c.notify = 1;
        gsm_event_handler(&c);
    }
    gsm_port_info &info(int port) { return gp->gsm_port_info.port_infos[port]; }
    int message_count(const std::string &text)
    {
        std::lock_guard<std::mutex> g(message_mutex);
        int n = 0;
        for (const std::string &m : messages)
            n += m == text;
        return n;
    }

    experimental_options eo_{};
    std::vector<call_object *> calls_;
    fs::path dir_;
    LogFuncMessage old_message_ = nullptr;
    int32_t old_enabled_ = 0;
};

TEST_F(GsmEvents, CallStateReportsBecomeEvents)
{
    call_object *co = call_on_port(1, SM_GSM_DIALED);
    struct {
        const char *text;
        int32_t word; // 0: the machine gets nothing
    } unsolicited[] = {
        {"#ECAM: 0,0,1,,,", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {"#ECAM: 0,1,1,,,", 0},
        {"#ECAM: 0,2,1,,,", gsm_word(GSM_EVENT_TYPE_RINGING)},
        {"#ECAM: 0,3,1,,,", gsm_word(GSM_EVENT_TYPE_CONNECTED)},
        {"#ECAM: 0,5,1,,,", 0},
        {"#ECAM: 0,7,1,,,", gsm_word(GSM_EVENT_TYPE_BUSY)},
        {"#ECAM: 0", 0},
        {"RING", gsm_word(GSM_EVENT_TYPE_RING)},
        {"+CIEV: sounder,1", gsm_word(GSM_EVENT_TYPE_CIEV)},
        {"+CIEV: service,1", 0},
        {"NO CARRIER", 0},
        {"+CREG: 1", 0},
    };
    debug_lines log({GSM});
    for (auto &c : unsolicited) {
        seen.clear();
        line(1, c.text);
        EXPECT_EQ(seen, c.word ? std::vector<int32_t>{c.word} : std::vector<int32_t>{}) << c.text;
    }
    EXPECT_EQ(log.count("not converting ecam event 1 to progress event"), 1);
    EXPECT_EQ(log.count("not converting ecam event 5"), 0);

    struct {
        int type;
        const char *text;
        int32_t word;
    } answers[] = {
        {GSM_EVENT_TYPE_ATD, "OK\r\n#ECAM: 0,2,1,,,", gsm_word(GSM_EVENT_TYPE_RINGING)},
        {GSM_EVENT_TYPE_ATD, "OK\r\n#ECAM: 0,1,1,,,\r\n#ECAM: 0,3,1,,,", gsm_word(GSM_EVENT_TYPE_CONNECTED)},
        // A dial's final result without call state reports: every failure
        // (and a dial whose exchange broke off without one) ends the call,
        // a busy far end is busy; the taken dial stands.
        {GSM_EVENT_TYPE_ATD, "NO CARRIER", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {GSM_EVENT_TYPE_ATD, "ERROR", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {GSM_EVENT_TYPE_ATD, "+CME ERROR: 30", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {GSM_EVENT_TYPE_ATD, "+CME ERROR: no network service", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {GSM_EVENT_TYPE_ATD, "NO ANSWER", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {GSM_EVENT_TYPE_ATD, "NO DIALTONE", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {GSM_EVENT_TYPE_ATD, "", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {GSM_EVENT_TYPE_ATD, "BUSY", gsm_word(GSM_EVENT_TYPE_BUSY)},
        {GSM_EVENT_TYPE_ATD, "OK", gsm_word(GSM_EVENT_TYPE_ATD)},
        {GSM_EVENT_TYPE_ATD, "CONNECT 9600", gsm_word(GSM_EVENT_TYPE_ATD)},
        {GSM_EVENT_TYPE_ATD, "RING", gsm_word(GSM_EVENT_TYPE_ATD)},
        {GSM_EVENT_TYPE_ATD, "#ECAM: 0,1,1,,,\r\nNO CARRIER", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {GSM_EVENT_TYPE_ATD, "#ECAM: 0,1,1,,,\r\nOK", gsm_word(GSM_EVENT_TYPE_ATD)},
        {GSM_EVENT_TYPE_ATA, "OK\r\n#ECAM: 0,0,1,,,", gsm_word(GSM_EVENT_TYPE_RELEASED)},
        {GSM_EVENT_TYPE_ATA, "OK\r\n#ECAM: 0,3,1,,,", gsm_word(GSM_EVENT_TYPE_ATA)},
    };
    for (auto &c : answers) {
        seen.clear();
        answer(1, c.type, "ATX", c.text);
        EXPECT_EQ(seen, std::vector<int32_t>{c.word}) << c.text;
    }
    EXPECT_EQ(log.count("GOT ATD ECAM INFO #ECAM: 0,3,1,,, => VALUE 3"), 1);
    EXPECT_EQ(log.count("GOT ATA ECAM INFO #ECAM: 0,0,1,,, => VALUE 0"), 1);

    // The hang-up tone while the INVITE is out releases the call.
    co->sm_state = SM_SIP_INVITE_SENT;
    seen.clear();
    line(1, "+CIEV: sounder,0");
    co->sm_state = SM_CALL_ACTIVE;
    line(1, "+CIEV: sounder,0");
    EXPECT_EQ(seen, (std::vector<int32_t>{gsm_word(GSM_EVENT_TYPE_RELEASED), gsm_word(GSM_EVENT_TYPE_CIEV)}));
    EXPECT_EQ(gsm_word(GSM_EVENT_TYPE_RELEASED), 0x40004006);
}

TEST_F(GsmEvents, CallIdentifierOfTheReportMustFitTheCall)
{
    call_object *co = call_on_port(2, SM_GSM_DIALED);
    struct {
        int call_gsm_id;
        const char *text;
        bool runs;
    } cases[] = {
        {-1, "#ECAM: 4,3,1,,,", true}, // the call has none
        {1, "#ECAM: 1,3,1,,,", true},  // equal
        {1, "#ECAM: 2,3,1,,,", false}, // another call of the modem
        {1, "+CIEV: sounder,1", true}, // no identifier in the line
    };
    for (auto &c : cases) {
        seen.clear();
        co->gsm_call_id = c.call_gsm_id;
        line(2, c.text);
        EXPECT_EQ(seen.size(), c.runs ? 1u : 0u) << c.text << " with call id " << c.call_gsm_id;
    }
}

TEST_F(GsmEvents, CallerNumberAndTheWaitTimer)
{
    call_object *co = call_on_port(1, SM_GSM_WAIT_FOR_CID);
    debug_lines log({GSM});
    // No timer: none is made.
    line(1, "+CLIP: \"+4917012345678\",145,,,\"Anna\",0");
    EXPECT_STREQ(co->gsm_oad, "+4917012345678");
    EXPECT_EQ(seen, std::vector<int32_t>{gsm_word(GSM_EVENT_TYPE_CLIP)});
    EXPECT_EQ(co->timer, nullptr);
    EXPECT_EQ(log.count("GOT CLIP num |+4917012345678| name |Anna| type 145 val 0"), 1);

    // An armed timer is brought forward to the next tick; a lapsed one stays.
    co->timer = (kv_timer *)calloc(1, sizeof(kv_timer));
    co->timer->tv.tv_sec = 10;
    ASSERT_EQ(timer_add(no_expiry, T_EVENT_GSM_WAIT_FOR_CID_TIMEOUT, co->timer), 0);
    line(1, "+CLIP: \"030123\",129,,,,0");
    EXPECT_EQ(co->timer->interval, 1);
    timer_stop(co->timer);
    line(1, "+CLIP: \"030124\",129,,,,0");
    EXPECT_EQ(timer_is_armed(co->timer), 0);
    EXPECT_STREQ(co->gsm_oad, "030124");

    // A call listing: only an incoming call that rings or waits, number cut
    // to 23 characters.
    seen.clear();
    answer(1, GSM_EVENT_TYPE_CLCC, "AT+CLCC", "+CLCC: 1,0,4,0,0,\"111\",129\r\nOK");
    EXPECT_STREQ(co->gsm_oad, "030124");
    answer(1, GSM_EVENT_TYPE_CLCC, "AT+CLCC",
           "+CLCC: 1,1,0,0,0,\"222\",129\r\n+CLCC: 2,1,4,0,0,\"+491234567890123456789012345\",145\r\nOK");
    EXPECT_STREQ(co->gsm_oad, "+4912345678901234567890");
    answer(1, GSM_EVENT_TYPE_CLCC, "AT+CLCC", "+CLCC: 1,1,5,0,0,333,129\r\nOK");
    EXPECT_STREQ(co->gsm_oad, "333");
    EXPECT_EQ(seen, std::vector<int32_t>(3, gsm_word(GSM_EVENT_TYPE_CLCC)));
    EXPECT_EQ(log.count("GOT caller number from CLCC |333|"), 1);
    line(1, "+CLIP: garbage");
    EXPECT_STREQ(co->gsm_oad, "333");
}

TEST_F(GsmEvents, ModemDtmfByOption)
{
    media_callctl_iface m{};
    m.process_dtmf = record_dtmf;
    media_set_callctl_iface(&m);
    call_object *co = call_on_port(3, SM_CALL_ACTIVE);
    const char *reports[] = {"#DTMFEV: 5,0", "#DTMFEV: 5,1", "#DTMFEV: *,2", "#DTMFEV: #,1", "#DTMFEV: x,1"};
    struct {
        int option;
        std::vector<int> digits;
    } cases[] = {
        {0, {}},
        {1, {5, 5, 10, 11}},
        {2, {5, 10, 11}},
        {3, {5, 11}},
    };
    for (auto &c : cases) {
        eo_.eo_ltedtmf = c.option;
        dtmf_digits.clear();
        for (const char *r : reports)
            line(3, r);
        EXPECT_EQ(dtmf_digits, c.digits) << "eo_ltedtmf " << c.option;
        for (int f : dtmf_flag)
            EXPECT_EQ(f, 1);
        EXPECT_EQ(co->f.got_sip_info_dtmf, 0u);
    }
    EXPECT_TRUE(seen.empty()); // no machine run for a DTMF report
    // Outside an active call no digit goes anywhere.
    eo_.eo_ltedtmf = 1;
    dtmf_digits.clear();
    co->sm_state = SM_GSM_RINGING;
    line(3, "#DTMFEV: 5,1");
    EXPECT_TRUE(dtmf_digits.empty());
}

TEST_F(GsmEvents, RegistrationAnswersAndRestartCounter)
{
    gsm_set_hooks(nullptr);
    eo_.eo_gsm_restart_on_fail_count = 2;
    gsm_port_restart_necessary[1] = 0;
    answer(1, GSM_EVENT_TYPE_CREG, "AT+CREG?", "+CREG: 2,1,\"1A2B\",\"01C3F0\",7\r\nOK");
    EXPECT_STREQ(info(1).creg, "2,1,\"1A2B\",\"01C3F0\",7");
    EXPECT_EQ(info(1).reg_mode, 2);
    EXPECT_EQ(info(1).reg_status, 1);
    EXPECT_EQ(info(1).access_tech, 7);
    std::vector<int> counters, restarts;
    for (int i = 0; i < 3; i++) {
        answer(1, GSM_EVENT_TYPE_CREG, "AT+CREG?", "+CREG: 2,0\r\nOK");
        counters.push_back(info(1).reg_status_failed_counter);
        restarts.push_back(gsm_port_restart_necessary[1] != 0);
    }
    EXPECT_EQ(counters, (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(restarts, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(info(1).access_tech, -1);
    answer(1, GSM_EVENT_TYPE_CREG, "AT+CREG?", "+CREG: 2,0\r\nOK");
    answer(1, GSM_EVENT_TYPE_CREG, "AT+CREG?", "+CREG: 2,5\r\nOK");
    EXPECT_EQ(info(1).reg_status_failed_counter, 0);
    // Not the two-line form: nothing changes.
    answer(1, GSM_EVENT_TYPE_CREG, "AT+CREG?", "+CREG: 2,0");
    EXPECT_EQ(info(1).reg_status, 5);
    gsm_port_restart_necessary[1] = 0;
}

TEST_F(GsmEvents, PortInformationAnswers)
{
    gp->gsm_port_info.last_port = 2;
    gp->gsm_port_info.aquire_stop = 0;
    answer(2, GSM_EVENT_TYPE_SERVINFO, "AT#SERVINFO",
           "#SERVINFO: 12,-77,\"Telekom.de\",\"26201\",54,1C3F,00,0,,\"FE\",1\r\nOK");
    EXPECT_STREQ(info(2).servinfo, "12,-77,\"Telekom.de\",\"26201\",54,1C3F,00,0,,\"FE\",1");
    EXPECT_STREQ(info(2).provider, "Telekom.de");
    EXPECT_EQ(info(2).provider_numeric, 26201);
    EXPECT_GT(gp->gsm_port_info.aquire_stop, 0);
    answer(2, GSM_EVENT_TYPE_SERVINFO, "AT#SERVINFO", "ERROR");
    EXPECT_STREQ(info(2).servinfo, "ErrorServinfo");
    EXPECT_STREQ(info(2).provider, "ErrorProvider");

    answer(2, GSM_EVENT_TYPE_SPN, "AT#SPN", "#SPN: congstar\r\nOK");
    EXPECT_STREQ(info(2).spn, "congstar");
    answer(2, GSM_EVENT_TYPE_SPN, "AT#SPN", "+CME ERROR: 10");
    EXPECT_STREQ(info(2).spn, "");
    answer(2, GSM_EVENT_TYPE_PCT, "AT#PCT", "#PCT: 3\r\nOK");
    EXPECT_EQ(info(2).pin_counter, 3);
    answer(2, GSM_EVENT_TYPE_CSQ, "AT+CSQ", "+CSQ: 17,99\r\nOK");
    EXPECT_EQ(info(2).sq_rssi, 17);
    EXPECT_EQ(info(2).sq_ber, 99);

    struct {
        int type;
        char *gsm_port_info::*field;
    } identity[] = {
        {GSM_EVENT_TYPE_CIMI, &gsm_port_info::imsi},
        {GSM_EVENT_TYPE_GSN, &gsm_port_info::serial},
        {GSM_EVENT_TYPE_CGSN, &gsm_port_info::imei},
        {GSM_EVENT_TYPE_CGMR, &gsm_port_info::firmware},
    };
    for (auto &c : identity) {
        answer(2, c.type, "AT", "262011234567890\r\nOK");
        EXPECT_STREQ(info(2).*c.field, "262011234567890") << c.type;
        answer(2, c.type, "AT", "ERROR");
        EXPECT_STREQ(info(2).*c.field, "262011234567890") << c.type;
    }
    answer(2, GSM_EVENT_TYPE_SWPKGV, "AT#SWPKGV", "25.30.228\r\nM0F.223004\r\nOK");
    EXPECT_STREQ(info(2).sw_pkgversion, "25.30.228:M0F.223004");
    answer(2, GSM_EVENT_TYPE_SWPKGV, "AT#SWPKGV", "other\r\nOK");
    EXPECT_STREQ(info(2).sw_pkgversion, "25.30.228:M0F.223004");

    debug_lines log({GSM});
    answer(2, GSM_EVENT_TYPE_CEER, "AT+CEER", "+CEER: \"Normal call clearing\"\r\nOK");
    EXPECT_EQ(log.count("GSM CEER INFO port 2: \"Normal call clearing\""), 1);
}

TEST_F(GsmEvents, ProfileListingLabels)
{
    std::vector<std::string> text = {
        "&C: 2; &D: 2; &K: 3; &S: 3; \\R: 1",
        "dte speed: 115200",
        "DTE SPEED: 9600",             // the field is set: the first wins
        "CONSTANT DTE SPEED: 0",
        "DTE FORMAT:8N1",              // no ": "
        "Command Echo: ON",
        "CTS (C106) OPTIONS: 1",
        "C108/1 OPERATION: 0",
        "DEFAULT PROFILE: 0",
        "UNKNOWN LABEL: 1",
    };
    std::vector<char *> lines;
    for (std::string &s : text)
        lines.push_back(s.data());
    gsm_port_info pi{};
    gsm_parse_atv(&pi, lines.data(), (int)lines.size());
    EXPECT_STREQ(pi.dte_speed, "115200");
    EXPECT_STREQ(pi.constant_dte_speed, "0");
    EXPECT_EQ(pi.dte_format, nullptr);
    EXPECT_STREQ(pi.command_echo, "ON");
    EXPECT_STREQ(pi.cts_c106_options, "1");
    EXPECT_STREQ(pi.c1081_options, "0");
    EXPECT_STREQ(pi.default_profile, "0");
    EXPECT_EQ(pi.line_speed, nullptr);
    // The same through the handler's answer of type ATV.
    answer(4, GSM_EVENT_TYPE_ATV, "AT&V", "LINE SPEED: 9600\r\nRESULT MESSAGES: ON\r\nOK");
    EXPECT_STREQ(info(4).line_speed, "9600");
    EXPECT_STREQ(info(4).result_messages, "ON");
    for (char *gsm_port_info::*f : {&gsm_port_info::dte_speed, &gsm_port_info::constant_dte_speed,
                                    &gsm_port_info::command_echo, &gsm_port_info::cts_c106_options,
                                    &gsm_port_info::c1081_options, &gsm_port_info::default_profile})
        free(pi.*f);
}

TEST_F(GsmEvents, CellBroadcastPdu)
{
    fs::create_directories(dir_ / "in");
    fs::create_directories(dir_ / "parts");
    free(gp->gsm_cbm_spool_in);
    free(gp->gsm_cbm_spool_parts);
    gp->gsm_cbm_spool_in = strdup((dir_ / "in").c_str());
    gp->gsm_cbm_spool_parts = strdup((dir_ / "parts").c_str());
    // 88 bytes: serial, id 1101, coding, page 1/1, 82 bytes of 7-bit text.
    std::string pdu = "40011101" "0F" "11";
    while (pdu.size() < 176)
        pdu += "C4";
    line(1, "+CBM: 88");
    line(1, pdu.c_str());
    EXPECT_EQ(gsm_cbm_expected[1], 0);
    int files = 0;
    for (auto &e : fs::directory_iterator(dir_ / "in"))
        files += e.is_regular_file();
    EXPECT_EQ(files, 1);

    line(1, "+CBM: 88");
    line(1, pdu.substr(0, 174).c_str());
    EXPECT_EQ(message_count("GSM port 1: cell broadcast PDU has 174 hex chars, +CBM announced 88 bytes - discarded"),
              1);
    EXPECT_EQ(gsm_cbm_expected[1], 0);

    // An announcement without length takes any even PDU; one that is not
    // hex leaves the wait; after 5 seconds the wait ends.
    line(1, "+CBM: 0");
    EXPECT_EQ(gsm_cbm_expected[1], -1);
    line(1, "+CSQ: 1,2");
    EXPECT_EQ(gsm_cbm_expected[1], -1);
    fake_now += 6;
    line(1, pdu.c_str());
    EXPECT_EQ(message_count("GSM port 1: no cell broadcast PDU within 5 s after +CBM"), 1);
    EXPECT_EQ(gsm_cbm_expected[1], 0);
}

TEST_F(GsmEvents, UssdAnswerOnlyWhenAskedAndBounded)
{
    std::string longline = "+CUSD: 0,\"" + std::string(2000, 'A') + "\",15";
    line(5, longline.c_str());
    EXPECT_EQ(gp->gsm_cusd_response_buffer[5], nullptr);
    gp->gsm_cusd_send_buffer[5] = strdup("*100#");
    line(5, "+CUSD: 0,\"0048\",15");
    ASSERT_NE(gp->gsm_cusd_response_buffer[5], nullptr);
    EXPECT_STREQ(gp->gsm_cusd_response_buffer[5], "+CUSD: 0,\"0048\",15");
    line(5, longline.c_str());
    EXPECT_EQ(strlen(gp->gsm_cusd_response_buffer[5]), (size_t)GSM_CUSD_ANSWER_MAX);
    EXPECT_EQ(std::string(gp->gsm_cusd_response_buffer[5]), longline.substr(0, GSM_CUSD_ANSWER_MAX));
    free(gp->gsm_cusd_send_buffer[5]);
    free(gp->gsm_cusd_response_buffer[5]);
    gp->gsm_cusd_send_buffer[5] = gp->gsm_cusd_response_buffer[5] = nullptr;
}

TEST_F(GsmEvents, PortsOutsideTheTablesAreDropped)
{
    debug_lines log({GSM});
    for (int port : {0, 7, -1, 1000}) {
        line(port, "RING");
        line(port, "+CBM: 88");
        answer(port, GSM_EVENT_TYPE_CREG, "AT+CREG?", "+CREG: 2,0\r\nOK");
    }
    // The record of a sent message is freed with it (the sanitizer tree
    // checks).
    gsm_outgoing_sms *sms = (gsm_outgoing_sms *)calloc(1, sizeof *sms);
    sms->filename = strdup("x.sms");
    gsm_command c{};
    c.event_type = GSM_EVENT_TYPE_CMGS;
    c.port = 7;
    c.send_cmd = (char *)sms;
    c.response = (char *)"OK";
    gsm_event_handler(&c);
    EXPECT_EQ(log.count("no such port"), 13);
    gsm_event_handler(nullptr);
    EXPECT_EQ(log.count("no gsm command"), 1);
}

TEST_F(GsmEvents, ReadIndexIsDecimalOnly)
{
    struct {
        const char *sent;
        int index;
    } cases[] = {
        {"AT+CMGR=3", 3},    {"AT+CMGR=12\r\n", 12}, {"AT+CMGR=", -1},      {"AT+CMGR=3;+CMGD=1", -1},
        {"AT+CMGR=-1", -1},  {"AT+CMGR=0x1", -1},    {"AT+CMGR", -1},       {nullptr, -1},
        {"AT+CMGR=99999999999", -1},
    };
    for (auto &c : cases)
        EXPECT_EQ(gsm_cmgd_index(c.sent), c.index) << (c.sent ? c.sent : "(null)");
}

// The results of sent messages: the file's end (sent or failed out) frees
// the record; a retry hands it to the queue (which here refuses and frees
// it: no port). The sanitizer tree checks that each is freed once.
TEST_F(GsmEvents, SentMessageResults)
{
    fs::path out = dir_ / "out", failout = dir_ / "failout";
    fs::create_directories(out);
    fs::create_directories(failout);
    free(gp->gsm_sms_spool_out);
    gp->gsm_sms_spool_out = strdup(out.c_str());
    gsm_global_config g{3, strdup(failout.c_str())};
    gp->gsm_global_config = &g;
    auto message = [&](const char *name, int counter) {
        std::ofstream(out / name) << "017012345\nhello\n";
        std::ofstream(out / (std::string(name) + ".processing")) << "";
        gsm_outgoing_sms *sms = (gsm_outgoing_sms *)calloc(1, sizeof *sms);
        sms->msg = strdup("hello");
        sms->number = strdup("017012345");
        sms->filename = strdup(name);
        sms->counter = counter;
        return sms;
    };
    auto result = [&](gsm_outgoing_sms *sms, const char *text) {
        std::string t = text;
        gsm_command c{};
        c.event_type = GSM_EVENT_TYPE_CMGS;
        c.port = 1;
        c.send_cmd = (char *)sms;
        c.response = t.data();
        c.notify = 1;
        gsm_event_handler(&c);
    };
    uint32_t ok0 = gp->callstat.sms_sent_success[1], failed0 = gp->callstat.sms_sent_failed[1];
    debug_lines log({GSM});

    result(message("a.sms", 0), "+CMGS: 7\r\nOK");
    EXPECT_FALSE(fs::exists(out / "a.sms"));
    EXPECT_FALSE(fs::exists(out / "a.sms.processing"));
    EXPECT_EQ(gp->callstat.sms_sent_success[1], ok0 + 1);

    result(message("b.sms", 0), "+CMS ERROR: 500");
    EXPECT_EQ(log.count("queuing again failed sms b.sms"), 1);
    std::ifstream blog(out / "b.sms.log");
    std::string reason;
    std::getline(blog, reason);
    EXPECT_EQ(reason, "+CMS ERROR: 500");

    result(message("c.sms", 2), "+CMS ERROR: 500"); // the third attempt
    EXPECT_FALSE(fs::exists(out / "c.sms"));
    int filed = 0;
    for (auto &e : fs::recursive_directory_iterator(failout))
        filed += e.path().filename() == "message";
    EXPECT_EQ(filed, 1);
    EXPECT_EQ(log.count("moving failed sms c.sms to "), 1);

    result(message("d.sms", 0), "INVALIDFORMAT\r\nOK"); // at once
    EXPECT_FALSE(fs::exists(out / "d.sms"));
    EXPECT_EQ(gp->callstat.sms_sent_failed[1], failed0 + 2);
    gp->gsm_global_config = nullptr;
    free(g.spool_failout);
}

TEST_F(GsmEvents, RegistrationLossMarksTheWorkaround)
{
    struct {
        int workaround, registered_once, marked;
    } cases[] = {{1, 1, 1}, {1, 0, 0}, {0, 1, 0}};
    for (auto &c : cases) {
        eo_.eo_lte_register_workaround = c.workaround;
        info(2).was_successfully_registered = c.registered_once;
        global_gsm_port_needs_reregister[2] = 0;
        line(2, "+CREG: 0");
        EXPECT_EQ(global_gsm_port_needs_reregister[2], c.marked) << c.workaround << c.registered_once;
    }
    global_gsm_port_needs_reregister[2] = 0;
}

// Admission of a ring: a port with its configuration string gets a call on
// the GSM-to-SIP machine waiting for the caller number, with the withheld
// number replaced and no timeslot in an empty map; a port without one gives
// the call object back at once.
TEST_F(GsmEvents, AdmissionOfARing)
{
    static bool inited = cm_init() == 0;
    ASSERT_TRUE(inited);
    fs::path conf = dir_ / "tarn.gsm";
    std::ofstream(conf) << "[general]\n[mobile]\nports=3\nconfig=clir_on_oad=anonymous\n";
    cm *saved = gp->config_gsm;
    gp->config_gsm = configman_create("GSM");
    ASSERT_NE(gp->config_gsm, nullptr);
    ASSERT_EQ(cm_load(&gp->config_gsm, conf.c_str()), 0);

    gsm_command c{};
    c.port = 3;
    {
        lock_hold hold(&lock_manager::global_lock);
        EXPECT_EQ(init_incoming_gsm_call(&c), 0);
    }
    call_object *co = get_operation_by_gsm_port(3);
    ASSERT_NE(co, nullptr);
    calls_.push_back(co);
    EXPECT_EQ(co->callinfo, CI_GSM_TO_SIP);
    EXPECT_EQ(co->sm_state, (uint32_t)SM_GSM_WAIT_FOR_CID);
    EXPECT_STREQ(co->gsm_oad, "anonymous");
    EXPECT_EQ(co->tdm_logical_timeslot, -1);
    EXPECT_EQ(co->cdr.from, TECH_GSM);
    EXPECT_TRUE(timer_is_armed(co->timer));

    // Port 4 has no configuration string.
    c.port = 4;
    {
        lock_hold hold(&lock_manager::global_lock);
        EXPECT_EQ(init_incoming_gsm_call(&c), -1);
    }
    EXPECT_EQ(get_operation_by_gsm_port(4), nullptr);
    int in_use = 0;
    for (int i = 0; i < OPERATIONARRAYSIZE; i++)
        in_use += get_operation_by_index(i) != nullptr; // null: free
    EXPECT_EQ(in_use, 1);

    cm_destroy(gp->config_gsm);
    gp->config_gsm = saved;
}

} // namespace
