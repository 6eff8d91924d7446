// Messages built by libpri parse into the call records they stand for, and
// libpri understands the SETUP our builder makes: libpri takes a call from
// us, answers and clears it, and places one of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "isdn_msg.h"
#include "libpri_peer.h"
#include "q931_frame.h"
#include "q931_hooks.h"
#include "q931_test_support.h"

// libpri has no call to free a D-channel; its own allocations are not ours
// to find.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libpri\n";
}

namespace {

struct scenario {
    const char *name;
    bool bri;
    int switchtype;
    int port;       // our port whose facts match the line
    int channel;    // B-channel of the calls
};

struct ring_seen {
    bool rang = false;
    std::string calling, called, name;
    int channel = -1;
    q931_call *call = nullptr;
};

// Runs the calls and returns the messages libpri sent, by message type.
std::map<int, octets> run_calls(const scenario &s, ring_seen &ring)
{
    libpri_peer peer(true, s.bri, s.switchtype);
    EXPECT_NE(peer.pri, nullptr);
    bool dchan_up = false, hungup = false;
    auto on_event = [&](pri_event *e) {
        if (e->e == PRI_EVENT_HANGUP)
            hungup = true;
        if (e->e == PRI_EVENT_DCHAN_UP)
            dchan_up = true;
        if (e->e == PRI_EVENT_RING) {
            ring.rang = true;
            ring.calling = e->ring.callingnum;
            ring.called = e->ring.callednum;
            ring.name = e->ring.callingname;
            ring.channel = e->ring.channel;
            ring.call = e->ring.call;
        }
    };
    peer.pump(on_event);
    EXPECT_TRUE(dchan_up) << s.name;

    // a call from us, built by our SETUP builder
    misdn_bchannel bc;
    fresh_bc(&bc, s.port, 0);
    bc.channel = s.channel;
    bc.exclusive = 1;
    bc.oton = NUMTYPE_NATIONAL;
    strcpy(bc.oad, "301234");
    strcpy(bc.dad, "5550");
    bc.sending_complete = 1;
    bc.use_qsig = s.switchtype == PRI_SWITCH_QSIG;
    bc.use_qsig_iso = 1;
    strcpy(bc.qsig_local_name, "Alice");
    msg_t *m = isdn_msg_build_event(msgs_g, &bc, EVENT_SETUP, 0);
    peer.send(frame_to_wire(m, 0, s.bri ? 1 : 2, 5, 0));
    free_msg(m);
    peer.pump(on_event);
    EXPECT_TRUE(ring.rang) << s.name;
    if (ring.call) {
        pri_proceeding(peer.pri, ring.call, s.channel, 0);
        pri_progress(peer.pri, ring.call, s.channel, 1);
        pri_acknowledge(peer.pri, ring.call, s.channel, 0);
        pri_answer(peer.pri, ring.call, s.channel, 0);
        peer.pump(on_event);
        pri_hangup(peer.pri, ring.call, 17);
        peer.pump(on_event);
        octets release = {0x08, (uint8_t)(s.bri ? 1 : 2)};
        if (!s.bri)
            release.push_back(0);
        release.insert(release.end(), {5, 0x4d, 0x08, 0x02, 0x80, 0x90});
        peer.send(release);
        peer.pump(on_event);
        EXPECT_TRUE(hungup) << s.name;
        pri_hangup(peer.pri, ring.call, 16);  // libpri completes the release when told
        peer.pump(on_event);
    }

    // a call of libpri's own
    q931_call *call = pri_new_call(peer.pri);
    struct pri_sr *sr = pri_sr_new();
    pri_sr_set_channel(sr, s.channel, 1, 0);
    pri_sr_set_bearer(sr, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
    char called[] = "4711";
    char calling[] = "301234";
    char name[] = "Bob";
    pri_sr_set_called(sr, called, PRI_UNKNOWN, 1);
    pri_sr_set_caller(sr, calling, name, PRI_NATIONAL_ISDN, PRES_ALLOWED_USER_NUMBER_NOT_SCREENED);
    pri_setup(peer.pri, call, sr);
    pri_sr_free(sr);
    peer.pump(on_event);

    std::map<int, octets> by_type;
    for (const octets &q : peer.from_pri) {

        int crlen = q.size() > 1 ? q[1] & 0x0F : 0;
        if ((int)q.size() > 2 + crlen)
            by_type[q[2 + crlen]] = q;
    }
    return by_type;
}

class Libpri : public ::testing::TestWithParam<scenario> {
  protected:
    void SetUp() override { install_test_ports(); }
    void TearDown() override { q931_reset_hooks(); }
};

TEST_P(Libpri, MessagesParseIntoCallRecords)
{
    const scenario &s = GetParam();
    ring_seen ring;
    std::map<int, octets> msgs = run_calls(s, ring);

    // libpri read our SETUP
    EXPECT_EQ(ring.calling, "301234");
    EXPECT_EQ(ring.called, "5550");
    EXPECT_EQ(ring.channel & 0xFF, s.channel);
    if (s.switchtype == PRI_SWITCH_QSIG) {
        EXPECT_EQ(ring.name, "Alice");
    }

    struct expect {
        int mt;
        std::function<void(const misdn_bchannel &)> check;
    } ex[] = {
        {0x02, [&](const misdn_bchannel &bc) { EXPECT_EQ(bc.channel, s.channel); }},
        {0x03,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.progress_indicator, 8);
             EXPECT_STREQ(bc.ie_facilities.ie_progress + 8, ";location=1;indicator=8");
         }},
        {0x01, [](const misdn_bchannel &bc) { EXPECT_EQ(bc.cause, 0); }},
        {0x07, [](const misdn_bchannel &) {}},
        {0x45,
         [](const misdn_bchannel &bc) {
             EXPECT_EQ(bc.cause, 17);
             EXPECT_NE(strstr(bc.ie_facilities.ie_cause, ";cause=17"), nullptr);
         }},
        {0x5A, [](const misdn_bchannel &) {}},
        {0x05,
         [&](const misdn_bchannel &bc) {
             EXPECT_STREQ(bc.oad, "301234");
             EXPECT_EQ(bc.oton, NUMTYPE_NATIONAL);
             EXPECT_EQ(bc.onpi, NUMPLAN_ISDN);
             EXPECT_EQ(bc.pres, 0);
             EXPECT_STREQ(bc.dad, "4711");
             EXPECT_EQ(bc.capability, 0);
             EXPECT_EQ(bc.law, 3);
             EXPECT_EQ(bc.channel, s.channel);
             EXPECT_EQ(bc.exclusive, 1);
             EXPECT_EQ(bc.sending_complete, s.switchtype == PRI_SWITCH_QSIG ? bc.sending_complete : 1);
             if (s.switchtype == PRI_SWITCH_QSIG) {
                 EXPECT_STREQ(bc.qsig_remote_name, "Bob");
                 EXPECT_EQ(bc.qsig_remote_name_pres, 1);
             }
         }},
    };
    for (const expect &e : ex) {
        auto it = msgs.find(e.mt);
        ASSERT_NE(it, msgs.end()) << s.name << " sent no message 0x" << std::hex << e.mt;
        for (int nt = 0; nt <= 1; nt++) {
            msg_t *m = frame_from_wire(it->second, nt);
            ASSERT_NE(m, nullptr);
            misdn_bchannel bc;
            fresh_bc(&bc, s.port, nt);
            bc.use_qsig = 1;
            EXPECT_EQ(isdn_msg_parse_event(msgs_g, m, &bc, nt), 0);
            SCOPED_TRACE(std::string(s.name) + " " + hex(it->second));
            e.check(bc);
            free_msg(m);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, Libpri,
                         ::testing::Values(scenario{"EuroISDN E1", false, PRI_SWITCH_EUROISDN_E1, 2, 1},
                                           scenario{"QSIG E1", false, PRI_SWITCH_QSIG, 2, 17},
                                           scenario{"EuroISDN BRI", true, PRI_SWITCH_EUROISDN_E1, 1, 2}),
                         [](const ::testing::TestParamInfo<scenario> &i) {
                             std::string n = i.param.name;
                             for (char &c : n)
                                 if (!isalnum((unsigned char)c))
                                     c = '_';
                             return n;
                         });

}  // namespace
