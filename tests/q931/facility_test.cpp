// Facilities: QSIG names sent and read, the scan of received facilities,
// FACILITY and REGISTER. The facility coder of the device layer is stood in
// for by a small double that codes return errors and one known invoke.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "fac_coder.h"
#include "isdn_interrogate.h"
#include "isdn_msg.h"
#include "isdn_msg_parser.h"
#include "misdn_invokeid.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "q931_test_support.h"

namespace {

// ---- the coder double ----

int double_decode(const unsigned char *ie, FacParm *fac)
{
    // decodes only an MCID invoke: 91 a1 06 02 01 id 02 01 03
    static const unsigned char mcid[] = {0x91, 0xa1, 0x06, 0x02, 0x01};
    if (ie[0] == 9 && !memcmp(ie + 1, mcid, sizeof(mcid)) && ie[7] == 0x02 && ie[9] == 0x03) {
        fac->Function = Fac_MCID;
        fac->u.MCID.invokeId = ie[6];
        return 0;
    }
    return -1;
}

int double_encode(unsigned char *buf, int size, const FacParm *fac)
{
    if (fac->Function != Fac_ReturnError || size < 16)
        return 0;
    int id = fac->u.ReturnError.invokeId;
    unsigned char c[16];
    int n = 0;
    c[n++] = 0x91;
    c[n++] = 0xa3;
    c[n++] = 0;  // length below
    c[n++] = 0x02;
    if (id > 127) {
        c[n++] = 2;
        c[n++] = (unsigned char)(id >> 8);
        c[n++] = (unsigned char)id;
    } else {
        c[n++] = 1;
        c[n++] = (unsigned char)id;
    }
    c[n++] = 0x02;
    c[n++] = 1;
    c[n++] = (unsigned char)fac->u.ReturnError.errorValue;
    c[2] = (unsigned char)(n - 3);
    buf[0] = 0x1c;
    buf[1] = (unsigned char)n;
    memcpy(buf + 2, c, (size_t)n);
    return n + 2;
}

// Argument of the double: ton1, len1, digits1, ton2, len2, digits2.
int double_diversion(const unsigned char *arg, const unsigned char *end, char *n1, int s1, int *t1,
                     char *n2, int s2, int *t2)
{
    if (end - arg < 2 || arg + 2 + arg[1] > end)
        return -1;
    *t1 = arg[0];
    snprintf(n1, (size_t)s1, "%.*s", arg[1], (const char *)arg + 2);
    arg += 2 + arg[1];
    if (end - arg >= 2 && arg + 2 + arg[1] <= end) {
        *t2 = arg[0];
        snprintf(n2, (size_t)s2, "%.*s", arg[1], (const char *)arg + 2);
    }
    return 0;
}

const fac_coder_ops double_ops = {double_decode, double_encode, double_diversion, nullptr};

misdn_bchannel *sent_bc;
event_e sent_event;
int capture_send(misdn_bchannel *bc, event_e e)
{
    sent_bc = bc;
    sent_event = e;
    return 0;
}

class Facility : public ::testing::Test {
  protected:
    void SetUp() override
    {
        install_test_ports();
        q931_hooks h{};
        h.send_event = capture_send;
        q931_set_hooks(&h);
        fac_coder_install(&double_ops);
        sent_bc = nullptr;
    }
    void TearDown() override
    {
        fac_coder_install(nullptr);
        q931_reset_hooks();
    }
};

octets facility_of(const msg_t *m, int nt, int n)
{
    const unsigned char *p = l3_ie_get(m, nt, IE_FACILITY, n);
    return p ? octets(p + 1, p + 1 + p[0]) : octets();
}

// ---- sending the local name ----

TEST_F(Facility, LocalNameOctetsForEachTemplate)
{
    struct {
        const char *name;
        event_e event;
        int iso, nfe, pres;
        const char *local;
        const char *content;
        std::map<std::string, std::string> fields;
    } nc[] = {
        {"plain called name, allowed", EVENT_ALERTING, 0, 0, 1, "Anna",
         "91 8b 01 00 a1 0f 02 01 05 06 04 2b 0c 09 01 80 04 41 6e 6e 61",
         {{"q932.ros.global", "1.3.12.9.1"}, {"qsig.na.namePresentationAllowedSimple", "Anna"}}},
        {"ISO calling name, restricted", EVENT_SETUP, 1, 0, 0, "Anna",
         "9f 8b 01 00 a1 0c 02 01 01 02 01 00 82 04 41 6e 6e 61",
         {{"q932.ros.local", "0"}, {"qsig.na.namePresentationRestrictedSimple", "Anna"}}},
        {"network extension connected name", EVENT_CONNECT, 0, 1, 1, "Desk",
         "91 aa 06 80 01 00 82 01 00 8b 01 00 a1 0f 02 01 05 06 04 2b 0c 09 02 80 04 44 65 73 6b",
         {{"q932.ros.global", "1.3.12.9.2"}, {"qsig.na.namePresentationAllowedSimple", "Desk"}}},
    };
    std::vector<octets> wires;
    std::vector<std::string> fields;
    for (const auto &c : nc) {
        misdn_bchannel bc;
        fresh_bc(&bc);
        bc.use_qsig = 1;
        bc.use_qsig_iso = c.iso;
        bc.use_qsig_network_extension = c.nfe;
        bc.qsig_local_name_pres = (unsigned char)c.pres;
        strcpy(bc.qsig_local_name, c.local);
        msg_t *m = isdn_msg_build_event(msgs_g, &bc, c.event, 0);
        EXPECT_EQ(hex(facility_of(m, 0, 0)), hex(unhex(c.content))) << c.name;
        EXPECT_EQ(bc.outfac_len[0], 0);
        EXPECT_EQ(bc.outfac_len_stored[0], (int)unhex(c.content).size());
        wires.push_back(frame_to_wire(m, 0));
        free_msg(m);
        for (const auto &f : c.fields)
            fields.push_back(f.first);
    }
    if (!tshark_available())
        GTEST_SKIP() << "tshark not installed";
    tshark_result r = tshark_decode(wires, fields);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.malformed, 0);
    for (size_t i = 0; i < wires.size(); i++)
        for (const auto &f : nc[i].fields)
            EXPECT_EQ(r.packets[i][f.first], f.second) << nc[i].name;
}

TEST_F(Facility, NameLengthLimit)
{
    unsigned char out[128];
    std::string fifty(50, 'n');
    std::string fiftyone(51, 'n');
    EXPECT_EQ(qsig_name_facility_encode(0, 0, 0, 1, fifty.c_str(), 50, out, sizeof(out)), 67);
    EXPECT_EQ(out[5], 0x0B + 50);
    EXPECT_EQ(out[16], 50);
    EXPECT_EQ(qsig_name_facility_encode(0, 0, 0, 1, fiftyone.c_str(), 51, out, sizeof(out)), -1);
    // a full field without terminator is a name of 50 characters
    misdn_bchannel bc;
    fresh_bc(&bc);
    bc.use_qsig = 1;
    memset(bc.qsig_local_name, 'n', sizeof(bc.qsig_local_name));
    msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_SETUP, 0);
    EXPECT_EQ(facility_of(m, 0, 0).size(), 67u);
    free_msg(m);
}

TEST_F(Facility, LocalNameJoinsAFacilityThatCallControlPlaced)
{
    misdn_bchannel bc;
    fresh_bc(&bc);
    bc.use_qsig = 1;
    strcpy(bc.qsig_local_name, "Anna");
    const octets placed = unhex("91 a1 06 02 01 07 02 01 03");
    memcpy(bc.outfac[0], placed.data(), placed.size());
    bc.outfac_len[0] = (int)placed.size();
    msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_SETUP, 0);
    EXPECT_EQ(hex(facility_of(m, 0, 0)), hex(placed));
    EXPECT_EQ(hex(facility_of(m, 0, 1)), "918b0100a10f020105060" "42b0c090080044" "16e6e61");
    octets wire = frame_to_wire(m, 0);
    free_msg(m);

    // both go out, and the name is read back from the second element
    msg_t *in = frame_from_wire(wire, 0);
    misdn_bchannel got;
    fresh_bc(&got);
    got.use_qsig = 1;
    isdn_msg_parse_event(msgs_g, in, &got, 0);
    EXPECT_STREQ(got.qsig_remote_name, "Anna");
    free_msg(in);

    // every buffer taken: no name, nothing overwritten
    fresh_bc(&bc);
    bc.use_qsig = 1;
    strcpy(bc.qsig_local_name, "Anna");
    for (int i = 0; i < BC_OUTFAC_COUNT; i++) {
        memcpy(bc.outfac[i], placed.data(), placed.size());
        bc.outfac_len[i] = (int)placed.size();
    }
    log_capture logs;
    m = isdn_msg_build_event(msgs_g, &bc, EVENT_ALERTING, 0);
    EXPECT_TRUE(logs.has("no free facility buffer"));
    for (int i = 0; i < BC_OUTFAC_COUNT; i++)
        EXPECT_EQ(hex(facility_of(m, 0, i)), hex(placed)) << i;
    free_msg(m);
}

// ---- reading the remote name ----

TEST_F(Facility, RemoteNameFromReceivedFacilities)
{
    std::string sixty(60, 'x');
    std::string sixty_hex;
    for (int i = 0; i < 60; i++)
        sixty_hex += " 78";
    std::string empties;
    for (int i = 0; i < 120; i++)
        empties += " a1 00";
    struct {
        const char *name;
        std::string ies;  // Facility elements of a SETUP
        const char *remote;
        int pres;
        const char *log;
    } rc[] = {
        {"allowed simple", "1c 12 91 8b 01 00 a1 0c 02 01 05 06 04 2b 0c 09 00 80 01 41", "A", 1, nullptr},
        {"restricted simple", "1c 12 91 8b 01 00 a1 0c 02 01 05 06 04 2b 0c 09 00 82 01 42", "B", 0, nullptr},
        {"ISO form", "1c 10 9f 8b 01 00 a1 0a 02 01 01 02 01 00 80 02 43 44", "CD", 1, nullptr},
        {"extended with character set", "1c 17 91 8b 01 00 a1 11 02 01 05 06 04 2b 0c 09 00 a1 06 04 01 45 02 01 01",
         "E", 1, nullptr},
        {"extended, octet string only", "1c 14 91 8b 01 00 a1 0e 02 01 05 06 04 2b 0c 09 00 a1 03 04 01 46", "F", 1,
         nullptr},
        {"extended without octet string", "1c 14 91 8b 01 00 a1 0e 02 01 05 06 04 2b 0c 09 00 a1 03 02 01 01", "", 1,
         nullptr},
        {"network extension first", "1c 1a 91 aa 06 80 01 00 82 01 00 8b 01 00 a1 0c 02 01 05 06 04 2b 0c 09 00 80 01 47",
         "G", 1, nullptr},
        {"other operation, then name in the next element",
         "1c 12 91 8b 01 00 a1 0c 02 01 05 06 04 2b 0c 09 04 80 01 48 "
         "1c 12 91 8b 01 00 a1 0c 02 01 05 06 04 2b 0c 09 00 80 01 49",
         "I", 1, nullptr},
        {"other profile", "1c 12 92 8b 01 00 a1 0c 02 01 05 06 04 2b 0c 09 00 80 01 4a", "old", 9, nullptr},
        {"empty argument ends the search",
         "1c 11 91 8b 01 00 a1 0b 02 01 05 06 04 2b 0c 09 00 80 00 "
         "1c 12 91 8b 01 00 a1 0c 02 01 05 06 04 2b 0c 09 00 80 01 4b",
         "old", 9, nullptr},
        {"long name is cut to the field", "1c 4d 91 8b 01 00 a1 47 02 01 05 06 04 2b 0c 09 00 80 3c" + sixty_hex,
         nullptr, 1, nullptr},
        {"argument longer than its invoke", "1c 12 91 8b 01 00 a1 0c 02 01 05 06 04 2b 0c 09 00 80 09 41", "old", 9,
         nullptr},
        {"many empty invokes", "1c f4 91 8b 01 00" + empties, "old", 9, "get_qsig_name parse error"},
    };
    for (const auto &c : rc) {
        for (int nt = 0; nt <= 1; nt++) {
            msg_t *m = frame_from_wire(unhex("08 01 01 05 " + c.ies), nt);
            ASSERT_NE(m, nullptr) << c.name;
            misdn_bchannel bc;
            fresh_bc(&bc, 1, nt);
            bc.use_qsig = 1;
            strcpy(bc.qsig_remote_name, "old");
            bc.qsig_remote_name_pres = 9;
            log_capture logs;
            isdn_msg_parse_event(msgs_g, m, &bc, nt);
            if (c.remote) {
                EXPECT_STREQ(bc.qsig_remote_name, c.remote) << c.name;
            } else {
                EXPECT_EQ(std::string(bc.qsig_remote_name), sixty.substr(0, BC_QSIG_NAME_LEN - 1)) << c.name;
            }
            EXPECT_EQ(bc.qsig_remote_name_pres, c.pres) << c.name;
            if (c.log) {
                EXPECT_TRUE(logs.has(c.log)) << c.name;
            }
            free_msg(m);
        }
    }
}

// ---- scanning received facilities ----

TEST_F(Facility, ScanForDiversionAndMlpp)
{
    struct {
        const char *name;
        const char *content;
        std::function<void(const misdn_bchannel &)> check;
    } sc[] = {
        {"MLPP", "91 a1 15 02 01 09 02 01 19 30 0d 02 01 03 0a 01 01 30 05 12 34 05 06 07",
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.fac_in.Function, Fac_MLPP);
             EXPECT_EQ(bc.fac_in.u.MLPP.invokeId, 9);
             EXPECT_EQ(bc.fac_in.u.MLPP.precLevel, 3);
             EXPECT_EQ(bc.fac_in.u.MLPP.lfbIndication, 1);
             EXPECT_EQ(bc.fac_in.u.MLPP.internationalID[0], 0x12);
             EXPECT_EQ(bc.fac_in.u.MLPP.internationalID[1], 0x34);
             EXPECT_EQ(bc.fac_in.u.MLPP.mlppServiceDomain[2], 0x07);
         }},
        {"MLPP sequence running past the invoke", "91 a1 0e 02 01 09 02 01 19 30 0d 02 01 03 0a 01 01 30",
         [](const misdn_bchannel &bc) { EXPECT_EQ(bc.fac_in.Function, Fac_None); }},
        {"diversion with two numbers", "91 a1 11 02 02 01 2c 02 01 0f 01 03 31 32 33 02 02 34 35 00",
         [](const misdn_bchannel &bc) {
             EXPECT_STREQ(bc.activersionDivQNumber1, "123");
             EXPECT_EQ(bc.activersionDivQNumber1_ton, 1);
             EXPECT_STREQ(bc.activersionDivQNumber2, "45");
             EXPECT_EQ(bc.activersionDivQNumber2_ton, 2);
         }},
        {"a return result is stepped over", "91 a2 03 02 01 01 a1 0c 02 01 09 02 01 0f 04 04 37 37 37 37",
         [](const misdn_bchannel &bc) { EXPECT_STREQ(bc.activersionDivQNumber1, "7777"); }},
        {"not a QSIG supplementary service", "9f a1 15 02 01 09 02 01 19 30 0d 02 01 03 0a 01 01 30 05 04 02 12 34 05 06 07",
         [](const misdn_bchannel &bc) { EXPECT_EQ(bc.fac_in.Function, Fac_None); }},
        {"invoke shorter than 11 octets ends the scan", "91 a1 06 02 01 01 02 01 0f 00 00 00 00 00 00 00",
         [](const misdn_bchannel &bc) { EXPECT_STREQ(bc.activersionDivQNumber1, ""); }},
    };
    for (const auto &c : sc) {
        misdn_bchannel bc;
        fresh_bc(&bc);
        bc.fac_in.Function = Fac_MCID;
        octets f = unhex(c.content);
        memcpy(bc.infac, f.data(), f.size());
        bc.infac_len = (int)f.size();
        EXPECT_EQ(parse_infac(&bc), 0);
        SCOPED_TRACE(c.name);
        c.check(bc);
    }
}

// ---- FACILITY and REGISTER ----

TEST_F(Facility, UnknownFacilityIsAnsweredWithAReturnError)
{
    struct {
        const char *name;
        int ruf;
        const char *content;
        int sent;
        int invoke;  // -1: a fresh id
    } uc[] = {
        {"two-octet invoke id", 1, "91 a1 0a 02 02 01 2c 02 01 63 80 01 00", 1, 300},
        {"one-octet invoke id", 1, "91 a1 09 02 01 11 02 01 63 80 01 00", 1, 17},
        {"no integer id", 1, "91 a1 05 80 03 01 02 03", 1, -1},
        {"not asked to reject", 0, "91 a1 0a 02 02 01 2c 02 01 63 80 01 00", 0, 0},
        {"decoded", 1, "91 a1 06 02 01 05 02 01 03", 0, 0},
    };
    std::vector<octets> answers;
    for (const auto &c : uc) {
        octets f = unhex(c.content);
        octets wire = unhex("08 01 81 62 1c");
        wire.push_back((uint8_t)f.size());
        wire.insert(wire.end(), f.begin(), f.end());
        msg_t *m = frame_from_wire(wire, 0);
        misdn_bchannel bc;
        fresh_bc(&bc);
        bc.reject_unknown_facility = c.ruf;
        sent_bc = nullptr;
        int before = misdn_get_invokeid();
        log_capture logs;
        isdn_msg_parse_event(msgs_g, m, &bc, 0);
        free_msg(m);
        EXPECT_EQ(sent_bc != nullptr, c.sent == 1) << c.name;
        EXPECT_NE(std::string(bc.ie_facilities.ie_facility).find("length="), std::string::npos);
        if (!c.sent) {
            EXPECT_TRUE(logs.has(std::string(c.name) == "decoded" ? "Decoding FACILITY succesful! (0), ruf 1"
                                                                 : "Decoding FACILITY failed! (-1), ruf 0"));
            continue;
        }
        EXPECT_EQ(sent_event, EVENT_FACILITY);
        EXPECT_EQ(bc.fac_out.Function, Fac_ReturnError);
        EXPECT_EQ(bc.fac_out.u.ReturnError.errorValue, 1);
        EXPECT_EQ(bc.fac_out.u.ReturnError.invokeId, c.invoke >= 0 ? c.invoke : before + 1) << c.name;
        // the answer the sending path builds from fac_out
        msg_t *ans = isdn_msg_build_event(msgs_g, &bc, EVENT_FACILITY, 0);
        ASSERT_NE(ans, nullptr);
        answers.push_back(frame_to_wire(ans, 0));
        free_msg(ans);
    }
    if (!tshark_available())
        GTEST_SKIP() << "tshark not installed";
    tshark_result r = tshark_decode(answers, {"q932.ros.returnError_element", "q932.ros.present", "q932.ros.local"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.malformed, 0);
    EXPECT_EQ(r.packets[0]["q932.ros.present"], "300");
    EXPECT_EQ(r.packets[0]["q932.ros.local"], "1");
    EXPECT_EQ(r.packets[1]["q932.ros.present"], "17");
}

TEST_F(Facility, BuildFacility)
{
    // a facility placed by call control goes out as it is and stays placed
    misdn_bchannel bc;
    fresh_bc(&bc);
    const octets placed = unhex("91 a1 06 02 01 07 02 01 03");
    memcpy(bc.outfac[0], placed.data(), placed.size());
    bc.outfac_len[0] = (int)placed.size();
    {
        log_capture logs;
        msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_FACILITY, 0);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(hex(facility_of(m, 0, 0)), hex(placed));
        EXPECT_FALSE(logs.has("ISDN TX"));
        free_msg(m);
    }
    EXPECT_EQ(bc.outfac_len[0], (int)placed.size());

    // nothing the coder can encode: no frame
    fresh_bc(&bc);
    bc.fac_out.Function = Fac_MCID;
    EXPECT_EQ(isdn_msg_build_event(msgs_g, &bc, EVENT_FACILITY, 1), nullptr);
    const fac_coder_ops none = {nullptr, nullptr, nullptr, nullptr};
    fac_coder_install(&none);
    bc.fac_out.Function = Fac_ReturnError;
    EXPECT_EQ(isdn_msg_build_event(msgs_g, &bc, EVENT_FACILITY, 0), nullptr);
}

TEST_F(Facility, ParseFacilityWithoutElementAndRegister)
{
    for (int nt = 0; nt <= 1; nt++) {
        msg_t *m = frame_from_wire(unhex("08 01 81 62 28 01 41"), nt);
        misdn_bchannel bc;
        fresh_bc(&bc, 1, nt);
        log_capture logs;
        isdn_msg_parse_event(msgs_g, m, &bc, nt);
        EXPECT_TRUE(logs.has("Parsing Facility failed"));
        EXPECT_FALSE(logs.has("ISDN RX"));
        free_msg(m);

        m = frame_from_wire(unhex("08 01 81 64 1c 14 91 a1 11 02 02 01 2c 02 01 0f 01 03 31 32 33 02 02 34 35 00"), nt);
        fresh_bc(&bc, 1, nt);
        log_capture logs2;
        isdn_msg_parse_event(msgs_g, m, &bc, nt);
        EXPECT_TRUE(logs2.has("Decoding REGISTER failed! (-1)\n"));
        EXPECT_STREQ(bc.activersionDivQNumber1, "123");
        EXPECT_EQ(bc.infac_len, 20);
        EXPECT_STREQ(bc.ie_facilities.ie_facility, "length=20;facility=kaERAgIBLAIBDwEDMTIzAgI0NQA=");
        free_msg(m);
    }
}

TEST(InvokeIds, RunFromOneAndWrapBeforeTheirLimit)
{
    int first = misdn_get_invokeid();
    EXPECT_GE(first, 1);
    int prev = first, wrapped = 0;
    for (int i = 0; i < 32767 && !wrapped; i++) {
        int id = misdn_get_invokeid();
        ASSERT_LT(id, 32767);
        if (id < prev) {
            EXPECT_EQ(prev, 32766);
            EXPECT_EQ(id, 1);
            wrapped = 1;
        }
        prev = id;
    }
    EXPECT_TRUE(wrapped);
}

}  // namespace

namespace {

// The device layer's own coder: a return error it encodes decodes in
// tshark, and an MCID invoke it decodes needs no answer.
TEST(FacilityLayerCoder, ReturnErrorAndDecode)
{
    fac_coder_install(nullptr);
    FacParm probe = {};
    probe.Function = Fac_ReturnError;
    unsigned char buf[FAC_IE_MAX];
    ASSERT_GT(fac_encode(buf, sizeof(buf), &probe), 0);
    install_test_ports();
    misdn_bchannel bc;
    fresh_bc(&bc);
    bc.fac_out.Function = Fac_ReturnError;
    bc.fac_out.u.ReturnError.invokeId = 300;
    bc.fac_out.u.ReturnError.errorValue = 1;
    msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_FACILITY, 0);
    ASSERT_NE(m, nullptr);
    octets wire = frame_to_wire(m, 0);
    free_msg(m);

    msg_t *in = frame_from_wire(unhex("08 01 81 62 1c 09 91 a1 06 02 01 05 02 01 03"), 0);
    fresh_bc(&bc);
    bc.reject_unknown_facility = 1;
    log_capture logs;
    isdn_msg_parse_event(msgs_g, in, &bc, 0);
    free_msg(in);
    EXPECT_TRUE(logs.has("Decoding FACILITY succesful! (0), ruf 1"));
    EXPECT_EQ(bc.fac_in.Function, Fac_MCID);
    q931_reset_hooks();

    if (!tshark_available())
        GTEST_SKIP() << "tshark not installed";
    tshark_result r = tshark_decode({wire}, {"q932.ros.returnError_element", "q932.ros.present", "q932.ros.local"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.malformed, 0);
    EXPECT_EQ(r.packets[0]["q932.ros.present"], "300");
    EXPECT_EQ(r.packets[0]["q932.ros.local"], "1");
}

// The answers to interrogations of call diversion that the device layer's
// coder decodes become the console's lines: one per entry, in place of the
// lines of an earlier answer, at most ten; tshark reads the answers as
// return results of the two operations.
TEST(FacilityLayerCoder, InterrogationResultsBecomeLines)
{
    fac_coder_install(nullptr);
    install_test_ports();
    // numbers 10, 11 ... as unknown party numbers in a result of interrogateServedUserNumbers
    auto numbers_result = [](int count) {
        octets list;
        for (int i = 0; i < count; i++)
            list.insert(list.end(), {0x80, 0x02, (uint8_t)('1' + i / 10), (uint8_t)('0' + i % 10)});
        octets seq = {0x02, 0x01, 0x11, 0x31, (uint8_t)list.size()};
        seq.insert(seq.end(), list.begin(), list.end());
        octets res = {0x02, 0x01, 0x07, 0x30, (uint8_t)seq.size()};
        res.insert(res.end(), seq.begin(), seq.end());
        octets wire = {0x08, 0x01, 0x81, 0x62, 0x1c, (uint8_t)(res.size() + 3), 0x91, 0xa2, (uint8_t)res.size()};
        wire.insert(wire.end(), res.begin(), res.end());
        return wire;
    };
    std::vector<octets> wires = {
        unhex("08 01 81 62 1c 3b 91 a2 38 02 01 05 30 33 02 01 0b 31 2e 30 17 a1 08 0a 01 01 12 03 31 32 33 "
              "0a 01 00 0a 01 00 30 05 80 03 34 35 36 30 13 05 00 0a 01 01 0a 01 02 30 09 a1 07 0a 01 02 12 02 39 "
              "39"),
        unhex("08 01 81 62 1c 0d 91 a2 0a 02 01 05 30 05 02 01 0b 31 00"),
        numbers_result(3),
        numbers_result(12),
    };
    auto take = [](const octets &wire) {
        msg_t *in = frame_from_wire(wire, 0);
        misdn_bchannel bc;
        fresh_bc(&bc);
        isdn_msg_parse_event(msgs_g, in, &bc, 0);
        free_msg(in);
        return bc.fac_in.Function;
    };
    interrogateDiversionResponseCount = interrogateNumbersResponseCount = 0;
    EXPECT_EQ(take(wires[0]), Fac_ReturnResult);
    ASSERT_EQ(interrogateDiversionResponseCount, 2);
    EXPECT_STREQ(interrogateDiversionResponseBuf[0],
                 "Procedure |cfu| BasicService |0| ServedUserNumber |123| Ton |1| ForwardedToNumber |456| Ton |-1|");
    EXPECT_STREQ(interrogateDiversionResponseBuf[1],
                 "Procedure |cfnr| BasicService |1| ServedUserNumber |all| Ton |-1| ForwardedToNumber |99| Ton |2|");
    EXPECT_EQ(interrogateNumbersResponseCount, 0);
    take(wires[1]);
    EXPECT_EQ(interrogateDiversionResponseCount, 0) << "an empty list replaces the earlier lines";
    take(wires[2]);
    ASSERT_EQ(interrogateNumbersResponseCount, 3);
    EXPECT_STREQ(interrogateNumbersResponseBuf[2], "ServedUserNumber |12| Ton |-1|");
    take(wires[3]);
    ASSERT_EQ(interrogateNumbersResponseCount, 10);
    EXPECT_STREQ(interrogateNumbersResponseBuf[0], "ServedUserNumber |10| Ton |-1|");
    EXPECT_STREQ(interrogateNumbersResponseBuf[9], "ServedUserNumber |19| Ton |-1|");
    // a result of another operation changes nothing
    take(unhex("08 01 81 62 1c 0d 91 a2 0a 02 01 05 30 05 02 01 07 31 00"));
    EXPECT_EQ(interrogateNumbersResponseCount, 10);
    interrogateNumbersResponseCount = 0;
    q931_reset_hooks();

    if (!tshark_available())
        GTEST_SKIP() << "tshark not installed";
    tshark_result r = tshark_decode(wires,
                                    {"q932.ros.local", "isdn-sup.InterrogationDiversionRes", "isdn-sup.procedure",
                                     "isdn-sup.publicNumberDigits", "isdn-sup.unknownPartyNumber",
                                     "isdn-sup.InterrogateServedUserNumbersRes"},
                                    "-o 'q932.facility_encoding:Dissect facility as ETSI'");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.malformed, 0);
    ASSERT_EQ(r.packets.size(), wires.size());
    EXPECT_EQ(r.packets[0]["q932.ros.local"], "11");
    EXPECT_EQ(r.packets[0]["isdn-sup.InterrogationDiversionRes"], "2");
    EXPECT_EQ(r.packets[0]["isdn-sup.procedure"], "0,2");
    EXPECT_EQ(r.packets[0]["isdn-sup.publicNumberDigits"], "123,99");
    EXPECT_EQ(r.packets[0]["isdn-sup.unknownPartyNumber"], "456");
    EXPECT_EQ(r.packets[1]["isdn-sup.InterrogationDiversionRes"], "0");
    EXPECT_EQ(r.packets[2]["q932.ros.local"], "17");
    EXPECT_EQ(r.packets[2]["isdn-sup.unknownPartyNumber"], "10,11,12");
    EXPECT_EQ(r.packets[3]["isdn-sup.InterrogateServedUserNumbersRes"], "12");
}

}  // namespace
