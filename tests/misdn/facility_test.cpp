// The facility coder: every operation round-trips through encodeFac and
// decodeFac, tshark's Q.932 decoder reads what we encode, malformed
// components are refused, and the QSIG diversion argument is read.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "dchannel_trace.h"
#include "misdn_harness.h"
#include "suppserv.h"

namespace {

FacParm make(FacFunction f, const std::function<void(FacParm &)> &fill = nullptr)
{
    FacParm p;
    memset(&p, 0, sizeof p);
    p.Function = f;
    if (fill)
        fill(p);
    return p;
}

std::vector<FacParm> all_operations()
{
    return {
        make(Fac_CD, [](FacParm &p) {
            p.u.CDeflection.invokeId = 5;
            p.u.CDeflection.PresentationAllowed = 1;
            p.u.CDeflection.Ton = 2;
            strcpy(p.u.CDeflection.DeflectedToNumber, "0301234567");
        }),
        make(Fac_CD, [](FacParm &p) {
            p.u.CDeflection.invokeId = 300;
            p.u.CDeflection.PresentationAllowed = -1;
            p.u.CDeflection.Ton = -1;
            strcpy(p.u.CDeflection.DeflectedToNumber, "123");
        }),
        make(Fac_CRerouting, [](FacParm &p) {
            p.u.CRerouting.invokeId = 7;
            strcpy(p.u.CRerouting.Reason, "cfb");
            strcpy(p.u.CRerouting.DeflectedFromNumber, "201");
            strcpy(p.u.CRerouting.DeflectedToSubaddress, "499");
            p.u.CRerouting.Ton = 0;
        }),
        make(Fac_AOCDCurrency, [](FacParm &p) {
            p.u.AOCDcur.invokeId = 9;
            strcpy(p.u.AOCDcur.Currency, "EUR");
            p.u.AOCDcur.CurrencyAmount = 1234;
            p.u.AOCDcur.Multiplier = 2;
            p.u.AOCDcur.typeOfChargingInfo = 0;
        }),
        make(Fac_AOCDChargingUnit, [](FacParm &p) {
            p.u.AOCDchu.invokeId = 10;
            p.u.AOCDchu.recordedUnits = 42;
            p.u.AOCDchu.typeOfChargingInfo = 1;
        }),
        make(Fac_AOCDChargingUnit, [](FacParm &p) { p.u.AOCDchu.chargeNotAvailable = 1; }),
        make(Fac_MCID, [](FacParm &p) { p.u.MCID.invokeId = 11; }),
        make(Fac_ECTExecute, [](FacParm &p) { p.u.ECTExecute.invokeId = 12; }),
        make(Fac_CFActivate, [](FacParm &p) {
            p.u.CFActivate.invokeId = 13;
            p.u.CFActivate.Procedure = 0;
            strcpy(p.u.CFActivate.ServedUserNumber, "");
            strcpy(p.u.CFActivate.ForwardedToNumber, "0049301");
            p.u.CFActivate.ForwardedToTon = 1;
        }),
        make(Fac_CFDeactivate, [](FacParm &p) {
            p.u.CFDeactivate.invokeId = 14;
            p.u.CFDeactivate.Procedure = 1;
            strcpy(p.u.CFDeactivate.ServedUserNumber, "55");
            p.u.CFDeactivate.ServedUserTon = 4;
        }),
        make(Fac_CFInterrogateParameters, [](FacParm &p) { p.u.CFInterrogateParameters.invokeId = 15; }),
        make(Fac_CFInterrogateNumbers, [](FacParm &p) { p.u.CFInterrogateNumbers.invokeId = 16; }),
        make(Fac_MLPP, [](FacParm &p) {
            p.u.MLPP.invokeId = 17;
            p.u.MLPP.precLevel = 2;
            p.u.MLPP.lfbIndication = 1;
            p.u.MLPP.internationalID[1] = 0x31;
            p.u.MLPP.mlppServiceDomain[2] = 7;
        }),
        make(Fac_ReturnResult, [](FacParm &p) { p.u.ReturnResult.invokeId = 18; }),
        make(Fac_ReturnError, [](FacParm &p) {
            p.u.ReturnError.invokeId = 300;
            p.u.ReturnError.errorValue = 1;
        }),
        make(Fac_Reject, [](FacParm &p) {
            p.u.Reject.invokeId = 19;
            p.u.Reject.problemTag = 1;
            p.u.Reject.problem = 2;
        }),
    };
}

TEST(Facility, EveryOperationRoundTrips)
{
    for (const FacParm &in : all_operations()) {
        uint8_t a[FAC_IE_MAX], b[FAC_IE_MAX];
        int na = encodeFac(a, &in);
        ASSERT_GT(na, 3) << "function " << in.Function;
        EXPECT_EQ(a[0], 0x1C);
        EXPECT_EQ(a[1], na - 2);
        FacParm out;
        ASSERT_EQ(decodeFac(a + 1, &out), 0) << "function " << in.Function;
        EXPECT_EQ(out.Function, in.Function);
        int nb = encodeFac(b, &out);
        ASSERT_EQ(nb, na) << "function " << in.Function;
        EXPECT_EQ(memcmp(a, b, (size_t)na), 0) << "function " << in.Function;
    }
}

TEST(Facility, DecodedFieldsAndKnownCoding)
{
    auto ops = all_operations();
    uint8_t ie[FAC_IE_MAX];
    FacParm out;
    ASSERT_GT(encodeFac(ie, &ops[0]), 0);
    ASSERT_EQ(decodeFac(ie + 1, &out), 0);
    EXPECT_STREQ(out.u.CDeflection.DeflectedToNumber, "0301234567");
    EXPECT_EQ(out.u.CDeflection.Ton, 2);
    EXPECT_EQ(out.u.CDeflection.PresentationAllowed, 1);
    ASSERT_GT(encodeFac(ie, &ops[3]), 0);
    ASSERT_EQ(decodeFac(ie + 1, &out), 0);
    EXPECT_STREQ(out.u.AOCDcur.Currency, "EUR");
    EXPECT_EQ(out.u.AOCDcur.CurrencyAmount, 1234);
    // a return error for invoke id 300 with error value 1
    const uint8_t want[] = {0x1C, 0x0A, 0x91, 0xA3, 0x07, 0x02, 0x02, 0x01, 0x2C, 0x02, 0x01, 0x01};
    ASSERT_EQ(encodeFac(ie, &ops[14]), (int)sizeof want);
    EXPECT_EQ(memcmp(ie, want, sizeof want), 0);
    // an unknown party number keeps its digits; a name too long for one IE is refused
    FacParm big = make(Fac_CRerouting);
    memset(big.u.CRerouting.DeflectedToSubaddress, '9', sizeof big.u.CRerouting.DeflectedToSubaddress);
    memset(big.u.CRerouting.DeflectedFromNumber, '8', sizeof big.u.CRerouting.DeflectedFromNumber);
    memset(big.u.CRerouting.Reason, 'x', sizeof big.u.CRerouting.Reason);
    EXPECT_GT(encodeFac(ie, &big), 0) << "fixed-width fields without a terminating zero stay bounded";
    FacParm none = make(Fac_None);
    EXPECT_EQ(encodeFac(ie, &none), -1);
}

TEST(Facility, MalformedComponentsAreRefused)
{
    const std::vector<std::vector<uint8_t>> bad = {
        {0x00},                                           // empty
        {0x03, 0x90, 0xA1, 0x00},                         // not remote operations
        {0x04, 0x91, 0xA1, 0x7F, 0x02},                   // component longer than the IE
        {0x08, 0x91, 0xA1, 0x05, 0x02, 0x05, 1, 2, 3},    // invoke id of 5 octets
        {0x09, 0x91, 0xA1, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x63},  // unknown operation
        {0x0B, 0x91, 0xA1, 0x08, 0x02, 0x01, 0x01, 0x02, 0x01, 0x0D, 0x30, 0x00},  // deflection without address
        {0x05, 0x91, 0xA1, 0x84, 0xFF, 0xFF},             // long-form length past the end
        {0x04, 0x91, 0xA1, 0x80, 0x00},                   // indefinite length
        {0x06, 0x91, 0xA4, 0x03, 0x02, 0x01, 0x01},       // reject without problem
        {0x05, 0x91, 0xBF, 0x81, 0x01, 0x00},             // high tag number
    };
    for (const auto &b : bad) {
        std::vector<uint8_t> exact(b);  // exactly as long as its length octet says
        ASSERT_EQ(exact.size(), (size_t)exact[0] + 1);
        FacParm out;
        out.Function = Fac_CD;
        EXPECT_EQ(decodeFac(exact.data(), &out), -1);
        EXPECT_EQ(out.Function, Fac_None);
    }
}

TEST(Facility, BerLengths)
{
    struct {
        std::vector<uint8_t> in;
        int ret, len;
    } cases[] = {
        {{0x05}, 1, 5},
        {{0x81, 0x80}, 2, 128},
        {{0x82, 0x01, 0x00}, 3, 256},
        {{0x80}, 1, -1},
        {{0x81}, -1, 0},
        {{0x85, 1, 2, 3, 4, 5}, -1, 0},
    };
    for (const auto &c : cases) {
        int len = 0;
        EXPECT_EQ(ParseLen(c.in.data(), c.in.data() + c.in.size(), &len), c.ret);
        if (c.ret > 0) {
            EXPECT_EQ(len, c.len);
        }
    }
}

TEST(Facility, QsigActivateDiversionArgument)
{
    // procedure cfu, all services, diverted to public national 555, served user 12, activating user 9
    const std::vector<uint8_t> arg = {0x30, 0x17, 0x0A, 0x01, 0x00, 0x0A, 0x01, 0x00, 0x30, 0x09, 0xA1,
                                      0x07, 0x0A, 0x01, 0x02, 0x12, 0x02, '5', '5', 0x80, 0x02, '1',
                                      '2', 0x80, 0x01, '9'};
    std::vector<uint8_t> a(arg);
    a[1] = (uint8_t)(a.size() - 2);
    char n1[256], n2[256];
    int t1, t2;
    asn1_parm pc{};
    ASSERT_EQ(manualParseActivationDiversionQ(&pc, a.data(), a.data() + a.size(), n1, sizeof n1, &t1, n2,
                                              sizeof n2, &t2),
              0);
    EXPECT_STREQ(n1, "55");
    EXPECT_EQ(t1, 2);
    EXPECT_STREQ(n2, "12");
    EXPECT_EQ(t2, 0);
    // cut after the diverted-to address: the served user is absent
    ASSERT_EQ(manualParseActivationDiversionQ(&pc, a.data(), a.data() + 19, n1, sizeof n1, &t1, n2,
                                              sizeof n2, &t2),
              -1) << "the sequence length runs past the end";
    std::vector<uint8_t> cut(a.begin(), a.begin() + 19);
    cut[1] = 17;
    ASSERT_EQ(manualParseActivationDiversionQ(&pc, cut.data(), cut.data() + cut.size(), n1, sizeof n1, &t1,
                                              n2, sizeof n2, &t2),
              0);
    EXPECT_STREQ(n1, "55");
    EXPECT_EQ(t2, -1);
    // tiny output buffers stay bounded
    char small[3];
    ASSERT_EQ(manualParseActivationDiversionQ(&pc, a.data(), a.data() + a.size(), small, sizeof small, &t1,
                                              n2, sizeof n2, &t2),
              0);
    EXPECT_STREQ(small, "55");
}

// Results of the interrogations of call diversion: the forwardings with
// their numbers, the served numbers, empty lists; other results, invokes and
// malformed lists are refused; a list longer than the room is counted.
TEST(Facility, InterrogationResults)
{
    auto ie = [](const std::string &hex) {
        std::vector<uint8_t> v;
        for (size_t i = 0; i + 1 < hex.size(); i += 3)
            v.push_back((uint8_t)strtol(hex.substr(i, 2).c_str(), nullptr, 16));
        v.erase(v.begin());  // the identifier; the decoder starts at the length
        return v;
    };
    // result of invoke 5, interrogationDiversion: 123 (public, international) cfu
    // all services to 456 (unknown); all numbers cfb speech to 99 (public, national)
    const std::string diversion = "1c 3b 91 a2 38 02 01 05 30 33 02 01 0b 31 2e 30 17 a1 08 0a 01 01 12 03 31 32 33 "
                                  "0a 01 00 0a 01 00 30 05 80 03 34 35 36 30 13 05 00 0a 01 01 0a 01 02 30 09 a1 "
                                  "07 0a 01 02 12 02 39 39";
    FacInterrogationEntry e[4];
    int op = 0;
    std::vector<uint8_t> d = ie(diversion);
    ASSERT_EQ(decodeFacInterrogationResult(d.data(), &op, e, 4), 2);
    EXPECT_EQ(op, Fac_CFInterrogateParameters);
    EXPECT_STREQ(e[0].ServedUserNumber, "123");
    EXPECT_EQ(e[0].ServedUserTon, 1);
    EXPECT_EQ(e[0].BasicService, 0);
    EXPECT_EQ(e[0].Procedure, 0);
    EXPECT_STREQ(e[0].ForwardedToNumber, "456");
    EXPECT_EQ(e[0].ForwardedToTon, -1);
    EXPECT_STREQ(e[1].ServedUserNumber, "");
    EXPECT_EQ(e[1].BasicService, 1);
    EXPECT_EQ(e[1].Procedure, 2);
    EXPECT_STREQ(e[1].ForwardedToNumber, "99");
    EXPECT_EQ(e[1].ForwardedToTon, 2);
    // no room: the entries are counted, none is written
    EXPECT_EQ(decodeFacInterrogationResult(d.data(), &op, nullptr, 0), 2);
    ASSERT_EQ(decodeFacInterrogationResult(d.data(), &op, e, 1), 2);
    EXPECT_STREQ(e[0].ServedUserNumber, "123");

    // interrogateServedUserNumbers: 111 (unknown), 22 (public, subscriber)
    d = ie("1c 1b 91 a2 18 02 01 06 30 13 02 01 11 31 0e 80 03 31 31 31 a1 07 0a 01 04 12 02 32 32");
    ASSERT_EQ(decodeFacInterrogationResult(d.data(), &op, e, 4), 2);
    EXPECT_EQ(op, Fac_CFInterrogateNumbers);
    EXPECT_STREQ(e[0].ServedUserNumber, "111");
    EXPECT_EQ(e[0].ServedUserTon, -1);
    EXPECT_STREQ(e[1].ServedUserNumber, "22");
    EXPECT_EQ(e[1].ServedUserTon, 4);

    struct {
        const char *name, *hex;
        int count, op;
    } cases[] = {
        {"empty list", "1c 0d 91 a2 0a 02 01 05 30 05 02 01 0b 31 00", 0, 11},
        {"result without its list", "1c 0b 91 a2 08 02 01 05 30 03 02 01 11", 0, 17},
        {"result of another operation", "1c 0d 91 a2 0a 02 01 05 30 05 02 01 07 31 00", -1, -1},
        {"result without operation", "1c 06 91 a2 03 02 01 05", -1, -1},
        {"an invoke", "1c 09 91 a1 06 02 01 05 02 01 0b", -1, -1},
        {"list entry cut short", "1c 11 91 a2 0e 02 01 05 30 09 02 01 0b 31 04 30 02 05 00", -1, 11},
        {"a list that is no set", "1c 0d 91 a2 0a 02 01 05 30 05 02 01 11 30 00", -1, 17},
        {"list longer than its result", "1c 0f 91 a2 0c 02 01 05 30 07 02 01 11 31 7f 80 01", -1, 17},
        {"other protocol profile", "1c 0d 90 a2 0a 02 01 05 30 05 02 01 0b 31 00", -1, -1},
    };
    for (const auto &c : cases) {
        d = ie(c.hex);
        ASSERT_EQ(d.size(), (size_t)d[0] + 1) << c.name;
        EXPECT_EQ(decodeFacInterrogationResult(d.data(), &op, e, 4), c.count) << c.name;
        EXPECT_EQ(op, c.op) << c.name;
    }
}

TEST(Facility, TsharkDecodesWhatWeEncode)
{
    tmp_dir dir;
    std::string trace = dir.file("fac.trace");
    dchannel_trace t;
    ASSERT_EQ(dchannel_trace_open(&t, trace.c_str(), false), 0);
    std::vector<int> want_ops;
    int ns = 0;
    for (const FacParm &p : all_operations()) {
        uint8_t ie[FAC_IE_MAX];
        int n = encodeFac(ie, &p);
        ASSERT_GT(n, 0);
        const uint8_t head[] = {0x00, 0x01, (uint8_t)(ns << 1), 0x00, 0x08, 0x01, 0x01, 0x62};
        ns = (ns + 1) & 0x7F;
        std::vector<uint8_t> f(sizeof head + (size_t)n);
        memcpy(f.data(), head, sizeof head);
        memcpy(f.data() + sizeof head, ie, (size_t)n);
        dchannel_trace_frame(&t, true, f.data(), (int)f.size());
        if (p.Function < 0x100)
            want_ops.push_back(p.Function);
    }
    dchannel_trace_close(&t);
    const std::string etsi = "-o 'q932.facility_encoding:Dissect facility as ETSI'";
    EXPECT_EQ(tshark_bad_frames(trace, etsi), 0u);
    auto ops = tshark_fields(trace, "q932.ros.opcode", {"q932.ros.local"}, etsi);
    ASSERT_EQ(ops.size(), want_ops.size());
    for (size_t i = 0; i < ops.size(); i++)
        EXPECT_EQ(ops[i], std::to_string(want_ops[i]));
}

}  // namespace
