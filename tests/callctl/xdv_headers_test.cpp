// ISDN information in SIP headers: the B-channel's IE texts as X-DV_ lines,
// headers read back into the B-channel (the edge list and the bounds of
// every length), user-user data from SIP, PAE and user-name records, eCall
// records of every kind, the MCID facility and the facility notice as an
// HTTP server sees it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "call_configuration.h"
#include "call_object.h"
#include "device_info.h"
#include "experimental_options.h"
#include "isdn_lib_types.h"
#include "misdn_bchannel.h"
#include "pools.h"
#include "suppserv.h"
#include "xdv_headers.h"

namespace {

class Xdv : public ::testing::Test {
protected:
    void SetUp() override { memset(&bc, 0, sizeof bc); }
    void apply(const char *name, const char *value) { apply_sipx_to_bc(&bc, name, value); }
    std::string lines(int size = 4096)
    {
        std::vector<char> buf((size_t)size, 'x');
        isdn_ie_to_sip_header_str(&bc, buf.data(), size);
        return buf.data();
    }
    misdn_bchannel bc;
};

TEST_F(Xdv, HeaderLinesInOrderAndOnlyForTexts)
{
    EXPECT_EQ(lines(), "") << "no texts, no lines";
    snprintf(bc.ie_facilities.ie_display, sizeof bc.ie_facilities.ie_display, "display=Alice");
    snprintf(bc.ie_facilities.ie_calling_pn, sizeof bc.ie_facilities.ie_calling_pn,
             "type=1;plan=1;present=0;screen=3;number=4930");
    EXPECT_EQ(lines(), "X-DV_CALLING_PN: type=1;plan=1;present=0;screen=3;number=4930\r\n"
                       "X-DV_DISPLAY: display=Alice\r\n");
    bc.ie_facilities.ie_date.tm_year = 0;
    EXPECT_EQ(lines().find("X-DV_DATE"), std::string::npos) << "year 0: no date line";
    bc.ie_facilities.ie_date.tm_year = 126;
    bc.ie_facilities.ie_date.tm_mon = 11;
    bc.ie_facilities.ie_date.tm_mday = 10;
    bc.ie_facilities.ie_date.tm_hour = 7;
    bc.ie_facilities.ie_date.tm_min = 5;
    bc.ie_facilities.ie_date.tm_sec = 9;
    EXPECT_NE(lines().find("X-DV_DATE: 2026-12-10 07:05:09\r\nX-DV_DISPLAY"), std::string::npos);
    std::string cut = lines(20);
    EXPECT_EQ(cut, "X-DV_CALLING_PN: ty") << "never more than the buffer";
}

TEST_F(Xdv, HeadersOntoTheBchannel)
{
    apply("X-DV_CALLING_PN", "type=2;plan=1;present=1;screen=3;number=123");
    EXPECT_EQ((int)bc.oton, 2);
    EXPECT_EQ((int)bc.onpi, 1);
    EXPECT_EQ(bc.pres, 1);
    EXPECT_EQ(bc.screen, 3);
    apply("X-DV_CALLED_PN", "type=4;plan=9;present=1");
    EXPECT_EQ((int)bc.dton, 4);
    EXPECT_EQ((int)bc.dnpi, 9);
    apply("X-DV_BEARER", "capability=8;rate=16");
    EXPECT_EQ(bc.capability, 8);
    EXPECT_EQ(bc.rate, 16);
    apply("X-DV_BEARER", "length=3;bearer=gJCj");
    EXPECT_EQ(bc.out_bearer_buf_len, 3);
    EXPECT_EQ(memcmp(bc.out_bearer_buf, "\x80\x90\xa3", 3), 0);
    EXPECT_EQ(bc.capability, 8) << "raw bearer leaves the capability";
    apply("X-DV_SENDINGCOMPLETE", "complete=0");
    EXPECT_EQ(bc.sending_complete, 1);
    apply("X-DV_COMPLETE", "complete=0");
    EXPECT_EQ(bc.sending_complete, 0);
    apply("X-DV_USERUSER", "protocol=0x04;length=3;useruser=AQID");
    EXPECT_EQ(bc.uu_protocol, 4);
    EXPECT_EQ(bc.uulen, 3);
    EXPECT_EQ(memcmp(bc.uu, "\x01\x02\x03", 3), 0);
    apply("X-DV_PROGRESS", "coding=0;location=2;indicator=8");
    EXPECT_EQ(bc.progress_location, 2);
    EXPECT_EQ(bc.progress_indicator, 8);
    apply("X-DV_CONNECT_PN", "type=1;cad=4930123");
    EXPECT_STREQ(bc.cad, "4930123");
    apply("X-DV_CAUSE", "cause=34");
    EXPECT_EQ(bc.out_cause, 34);
    apply("X-DV_DISPLAY", "display=Bob");
    EXPECT_STREQ(bc.display, "Bob");
    apply("X-DV_KEYPAD", "keypad=*21#");
    EXPECT_STREQ(bc.keypad, "*21#");

    misdn_bchannel before = bc;
    apply("X-DV_CHANNEL_ID", "channel=3;exclusive=1");
    apply("X-DV_UNKNOWN", "cause=1");
    apply("X-DV_CAUSE", "Cause=1;cause");
    apply("x-dv_cause", "cause=1");
    EXPECT_EQ(memcmp(&before, &bc, sizeof bc), 0) << "unlisted headers and keys, items without '=' change nothing";
}

TEST_F(Xdv, FacilityHeadersFillTheSlotsInTurn)
{
    apply("X-DV_FACILITY", "length=2;facility=kQE=");
    apply("X-DV_FACILITY", "length=3;facility=kQIC");
    EXPECT_EQ(bc.outfac_len[0], 2);
    EXPECT_EQ(bc.outfac_len[1], 3);
    EXPECT_EQ(memcmp(bc.outfac[1], "\x91\x02\x02", 3), 0);
    for (int i = 0; i < 7; i++)
        apply("X-DV_FACILITY", "length=1;facility=kQ==");
    for (int i = 0; i < BC_OUTFAC_COUNT; i++)
        EXPECT_GT(bc.outfac_len[i], 0) << "slot " << i;
    EXPECT_EQ(bc.outfac_len[1], 3) << "a ninth header changes no slot";
}

TEST_F(Xdv, LengthsAreBoundedByTheirFields)
{
    static const struct {
        const char *name, *value;
        int misdn_bchannel::*len;
        int expect;
    } cases[] = {
        {"X-DV_USERUSER", "length=100000", &misdn_bchannel::uulen, BC_UU_LEN},
        {"X-DV_USERUSER", "length=-5", &misdn_bchannel::uulen, 0},
        {"X-DV_HLC", "length=99", &misdn_bchannel::hlclen, BC_LLC_HLC_LEN},
        {"X-DV_LLC", "length=17", &misdn_bchannel::llclen, BC_LLC_HLC_LEN},
        {"X-DV_LLC", "length=-1", &misdn_bchannel::llclen, 0},
        {"X-DV_BEARER", "length=99;bearer=AA==", &misdn_bchannel::out_bearer_buf_len, BC_BEARER_LEN},
        {"X-DV_CALLING_SUBADDRESS", "length=9999", &misdn_bchannel::calling_subaddress_len, BC_SUBADDRESS_LEN},
        {"X-DV_CALLED_SUBADDRESS", "length=-9", &misdn_bchannel::called_subaddress_len, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.value);
        memset(&bc, 0, sizeof bc);
        apply(c.name, c.value);
        EXPECT_EQ(bc.*c.len, c.expect);
    }
    apply("X-DV_FACILITY", "length=4096;facility=!!!notbase64");
    EXPECT_EQ(bc.outfac_len[0], BC_FAC_LEN);
    std::string big(2000, 'A');
    apply("X-DV_USERUSER", ("useruser=" + big).c_str());
    apply("X-DV_KEYPAD", ("keypad=" + big).c_str());
    apply("X-DV_DISPLAY", ("display=" + big).c_str());
    EXPECT_EQ(strlen(bc.keypad), 31u);
    EXPECT_EQ(strlen(bc.display), 83u);
    bc.out_cause = 16;
    for (const char *v : {"cause=128", "cause=-1", "cause=99999999999"})
        apply("X-DV_CAUSE", v);
    EXPECT_EQ(bc.out_cause, 16) << "causes outside 0..127 are ignored";
}

TEST_F(Xdv, MlppIsCodedIntoSlotZero)
{
    apply("X-DV_FACILITY_MLPP", "precLevel=9;lfbIndication=1;internationalId=1,2;mlppDomainId=3,4,5");
    ASSERT_GT(bc.outfac_len[0], 0);
    // The slot holds the element's content: its length octet comes before it.
    unsigned char ie[BC_FAC_LEN + 1];
    ie[0] = (unsigned char)bc.outfac_len[0];
    memcpy(ie + 1, bc.outfac[0], (size_t)bc.outfac_len[0]);
    FacParm fac{};
    ASSERT_EQ(decodeFac(ie, &fac), 0);
    EXPECT_EQ(fac.Function, Fac_MLPP);
    EXPECT_EQ(fac.u.MLPP.precLevel, 0) << "precedence above 4 becomes 0";
    EXPECT_EQ(fac.u.MLPP.lfbIndication, 1);
    EXPECT_EQ(fac.u.MLPP.internationalID[1], 2);
    EXPECT_EQ(fac.u.MLPP.mlppServiceDomain[2], 5);
}

// ---- user-user data ---------------------------------------------------------------

class XdvCall : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!gp)
            application_create();
        init_locks();
    }
    void SetUp() override
    {
        co = (call_object *)calloc(1, sizeof *co);
        memset(&bc, 0, sizeof bc);
        co->bc = &bc;
        co->ecall_simple = co->ecall_parsed = -1;
    }
    void TearDown() override { free(co); }
    call_object *co;
    misdn_bchannel bc;
};

TEST_F(XdvCall, UserToUserHeader)
{
    apply_sip_user_user_to_bc(co, "04c1c2c3;encoding=hex;purpose=isdn-uui");
    EXPECT_EQ(bc.uu_protocol, 4);
    ASSERT_EQ(bc.uulen, 3);
    EXPECT_EQ(memcmp(bc.uu, "\xc1\xc2\xc3", 3), 0);
    memset(&bc, 0, sizeof bc);
    apply_sip_user_user_to_bc(co, "04c1c2c3;encoding=hex;purpose=other");
    apply_sip_user_user_to_bc(co, "04c1c2c3;purpose=isdn-uui");
    EXPECT_EQ(bc.uulen, 0);
    apply_sip_user_user_to_bc(co, "04c1zz;encoding=hex;purpose=isdn-uui");
    EXPECT_EQ(bc.uulen, 1) << "bytes up to the first pair that is not hexadecimal";
    std::string big = "04" + std::string(1000, 'a') + ";purpose=isdn-uui;encoding=hex";
    apply_sip_user_user_to_bc(co, big.c_str());
    EXPECT_EQ(bc.uulen, BC_UU_LEN);
}

TEST_F(XdvCall, PaeRecordsAndUserName)
{
    const unsigned char pae[] = {0x82, 0x10, 0x09, 0x01, 0x05, 0x82, 0x10, 0x0A, 0x01, 0x07, 0x82, 0x10, 0x09, 0x01, 0x09};
    memcpy(bc.uu, pae, sizeof pae);
    bc.uulen = sizeof pae;
    char c1[64], c2[64];
    parse_pae_uu(&bc, c1, sizeof c1, c2, sizeof c2);
    EXPECT_STREQ(c1, "X-DV_PAE_ACT: 0x05");
    EXPECT_STREQ(c2, "X-DV_PAE_NVR: 0x07");
    parse_pae_uu(&bc, c1, 8, c2, sizeof c2);
    EXPECT_STREQ(c1, "X-DV_PA") << "cut to the given length";

    const unsigned char name[] = {0x04, 0x05, 0x81, 0x3A, 'A', 'n', 'n', 'a'};
    memcpy(bc.uu, name, sizeof name);
    bc.uulen = sizeof name; // byte 1 + 3
    EXPECT_EQ(parse_isdn_userusername(&bc), 0);
    EXPECT_STREQ(bc.userusername, "Anna");
    bc.uulen = 6;
    EXPECT_EQ(parse_isdn_userusername(&bc), -1);
    bc.uulen = 100000;
    EXPECT_EQ(parse_isdn_userusername(&bc), -1);
}

TEST_F(XdvCall, EcallLengthsByKindOfDescription)
{
    static const struct {
        int description;
        int length;
        int result;
    } cases[] = {
        {0, 9, 0},   {0, 10, -1}, {6, 9, 0},   {1, 13, 0},  {1, 12, -1}, {2, 28, 0},  {4, 23, 0},
        {7, 23, 0},  {7, 22, -1}, {5, 15, 0},  {3, 10, 0},  {3, 9, -1},  {0, 2, -1},  {3, 32, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("description " + std::to_string(c.description) + " length " + std::to_string(c.length));
        memset(&bc, 0, sizeof bc);
        co->ecall_simple = co->ecall_parsed = -1;
        bc.uu[2] = (unsigned char)(0x80 | c.description << 4); // location 0, eCall bit set
        bc.uulen = c.length;
        ecall_parsed e;
        EXPECT_EQ(parse_user_information_ecall(co, &bc, &e), c.result);
        EXPECT_EQ(co->ecall_parsed, c.result == 0 ? 1 : -1);
        if (c.length >= 3 && c.length <= 31)
            EXPECT_EQ(co->ecall_simple, 1);
    }
    bc.uu[2] = 0x06; // location 6 is undefined
    bc.uulen = 9;
    co->ecall_parsed = -1;
    ecall_parsed e;
    EXPECT_EQ(parse_user_information_ecall(co, &bc, &e), -1);
    EXPECT_EQ(co->ecall_parsed, -1);
    EXPECT_STREQ(print_ecall_standort(6), "ECALL_STANDORT_UNDEFINED");
    EXPECT_STREQ(print_ecall_standort(15), "ECALL_STANDORT_1_1_1_1_FEHLER_KEINE_STANDORTANGABE");
    EXPECT_STREQ(print_ecall_geografische_beschreibung(8), "ECALL_GEOGRAFISCHE_BESCHREIBUNG");
    char bits[9];
    EXPECT_EQ(format_byte(0xA5, bits, sizeof bits), 0);
    EXPECT_STREQ(bits, "10100101");
    EXPECT_EQ(format_byte(0xA5, bits, 8), -1);
    EXPECT_STREQ(bits, "");
}

std::vector<int> isdn_sent;
void record_isdn(call_object *, int event) { isdn_sent.push_back(event); }

TEST_F(XdvCall, McidFacility)
{
    isdn_callctl_hooks h{};
    h.tarn_misdn_lib_send_event = record_isdn;
    isdn_callctl_set_hooks(&h);
    _send_mcid(co);
    EXPECT_EQ(bc.fac_out.Function, Fac_MCID);
    EXPECT_GT(bc.fac_out.u.MCID.invokeId, 0);
    co->bc = nullptr;
    _send_mcid(co);
    EXPECT_EQ(isdn_sent, std::vector<int>{EVENT_FACILITY});
    isdn_callctl_set_hooks(nullptr);
}

// One HTTP request on a local port: its request line and headers.
struct http_stub {
    int fd = -1;
    int port = 0;
    std::string request;
    std::thread t;
    http_stub()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, (sockaddr *)&a, sizeof a);
        socklen_t l = sizeof a;
        getsockname(fd, (sockaddr *)&a, &l);
        port = ntohs(a.sin_port);
        listen(fd, 1);
        t = std::thread([this] {
            int c = accept(fd, nullptr, nullptr);
            if (c < 0)
                return;
            char buf[4096];
            ssize_t n;
            while ((n = read(c, buf, sizeof buf)) > 0) {
                request.append(buf, (size_t)n);
                if (request.find("\r\n\r\n") != std::string::npos)
                    break;
            }
            const char reply[] = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
            (void)!write(c, reply, sizeof reply - 1);
            close(c);
        });
    }
    ~http_stub()
    {
        if (t.joinable())
            t.join();
        close(fd);
    }
};

TEST_F(XdvCall, FacilityNoticeUrl)
{
    if (!gp->hi)
        gp->hi = (hardware_info *)calloc(1, sizeof *gp->hi);
    snprintf(gp->hi->hwi_serial_number, sizeof gp->hi->hwi_serial_number, "DV0012345678");
    http_stub stub;
    std::string server = "http://127.0.0.1:" + std::to_string(stub.port) + "/fac";
    co->cc.call_authorization_default_policy = 0;
    int r = isdn_authserver_notify_facility(co, server.c_str(), "user:pw", "ISDN", 1, 4711, "123", "456",
                                            "kQE+/w==", "a b&c");
    stub.t.join();
    EXPECT_EQ(r, 1);
    EXPECT_EQ(stub.request.rfind("GET /fac?id=4711&gatewayId=45678&facility=kQE%2B%2Fw%3D%3D"
                                 "&facility_decoded=a%20b%26c HTTP/1.1\r\n",
                                 0),
              0u)
        << stub.request;
    EXPECT_NE(stub.request.find("Authorization: Basic dXNlcjpwdw=="), std::string::npos);
    EXPECT_STREQ(curl_response_buffer_fac, "ok");

    snprintf(gp->hi->hwi_serial_number, sizeof gp->hi->hwi_serial_number, "123");
    http_stub stub2;
    server = "http://127.0.0.1:" + std::to_string(stub2.port) + "/fac";
    co->cc.call_authorization_default_policy = 1;
    r = isdn_authserver_notify_facility(co, server.c_str(), "", "ISDN", 1, 7, "", "", "AA==", "");
    stub2.t.join();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(stub2.request.rfind("GET /fac?id=7&gatewayId=00000&facility=AA%3D%3D HTTP/1.1\r\n", 0), 0u)
        << stub2.request;
    EXPECT_EQ(stub2.request.find("Authorization"), std::string::npos);
}

TEST(XdvInfo, LastSignalLineOfTheBody)
{
    char v[64];
    const char body[] = "Signal=3\r\nDuration=160\r\nsignal = 7 \r\n";
    EXPECT_EQ(sip_body_last_signal(body, sizeof body - 1, v, sizeof v), 1);
    EXPECT_STREQ(v, "7");
    const char lf[] = "Signal=5\nDuration=100\n";
    EXPECT_EQ(sip_body_last_signal(lf, sizeof lf - 1, v, sizeof v), 1);
    EXPECT_STREQ(v, "5");
    const char none[] = "Duration=160\r\nSignalx\r\n";
    EXPECT_EQ(sip_body_last_signal(none, sizeof none - 1, v, sizeof v), 0);
    EXPECT_STREQ(v, "");
}

} // namespace
