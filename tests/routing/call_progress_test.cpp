#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "application.h"
#include "call_progress.h"
#include "routing_fixture.h"
#include "run_process.h"

namespace {

using CallProgress = RoutingTest;

std::string list_tables()
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    cpt_list_tables(f);
    fclose(f);
    std::string s(buf, len);
    free(buf);
    return s;
}

// A ring of 12 ISDN events as call control keeps it: entry size-1 is the
// most recent.
struct history {
    int32_t ring[CPT_HISTORY_RING] = {};
    int size = 0;
    history(std::initializer_list<cpt_events> oldest_first)
    {
        for (cpt_events e : oldest_first)
            ring[size++ % CPT_HISTORY_RING] = e;
    }
};

TEST_F(CallProgress, BuiltinTablesListAsGiven)
{
    EXPECT_EQ(gp->s2i_cpt_default, &cpt_s2i_builtin);
    EXPECT_EQ(gp->i2s_cpt_default, &cpt_i2s_builtin);
    EXPECT_EQ(gp->s2fxo_cpt_default, &cpt_s2fxo_builtin);
    EXPECT_EQ(cpt_s2fxo_builtin.timeout_dial, 10000);
    EXPECT_EQ(cpt_s2fxo_builtin.timeout_polrev, 10000);
    EXPECT_EQ(cpt_s2fxo_builtin.timeout_alerting_ended, -1);
    // The golden text is transcribed from the given rows, not from the code.
    EXPECT_EQ(list_tables(), read_text_file(TARN_SOURCE_DIR "/tests/routing/golden/lcpt_builtin.txt"));
}

TEST_F(CallProgress, NamesOfCodesAndStates)
{
    struct {
        int code;
        const char *brief, *full;
    } cases[] = {
        {0, "", "CP_ISDN_NOTHING"},
        {1, "SETUP_ACKNOWLEDGE", "CP_ISDN_SETUPACKNOWLEDGE"},
        {CP_ISDN_PROCEEDING, "PROCEEDING", "CP_ISDN_PROCEEDING"},
        {CP_RESPOND_PROCEEDING, "PROCEEDING", "CP_RESPOND_PROCEEDING"},
        {CP_ISDN_CONNECT, "CONNECT", "CP_ISDN_CONNECT"},
        {CP_RESPOND_CONNECT, "CONNECT", "CP_RESPOND_CONNECT"},
        {CP_SIP_NOTHING, "UNKNOWN", "CP_SIP_NOTHING"},
        {CP_SIP_183_SDP, "183_SDP", "CP_SIP_183_SDP"},
        {CP_RESPOND_180, "180", "CP_RESPOND_180"},
        {11, "183_SDP_DAVNOLE", "CP_SIP_183_SDP_DAVNOLE"},
        {14, "180_DAVNOLE", "CP_SIP_180_DAVNOLE"},
        {15, "NOTHING", "CP_RESPOND_NOTHING"},
        {20, "200", "CP_RESPOND_200"},
        {25, "CP_SIP2FXO_DIALING_FINISHED", "CP_SIP2FXO_DIALING_FINISHED"},
        {32, "CP_SIP2FXO_POLREV_CONNECT", "CP_SIP2FXO_POLREV_CONNECT"},
        {9999, "DIALPLAN_MATCH_FOUND", "CP_DIALPLAN_MATCH_FOUND"},
        {33, "UNKNOWN", "UNKNOWN"},
        {-1, "UNKNOWN", "UNKNOWN"},
        {9998, "UNKNOWN", "UNKNOWN"},
    };
    for (auto &c : cases) {
        EXPECT_STREQ(cpt_events_to_string(c.code), c.brief) << c.code;
        EXPECT_STREQ(cpt_print_event(c.code), c.full) << c.code;
    }
    const char *states[] = {"no_channel", "with_channel", "without_audio", "with_audio", "any_state", "error"};
    for (int s = 0; s < 6; s++)
        EXPECT_STREQ(cpt_channelstate_to_string(s), states[s]);
    EXPECT_STREQ(cpt_channelstate_to_string(-1), "error");
}

TEST_F(CallProgress, SearchS2iBuiltin)
{
    struct {
        const char *what;
        int nt, state;
        history h;
        int rc;
        cpt_events answer;
        const char *reason;
    } cases[] = {
        {"NT alerting with inband audio", 1, CPT_WITH_INBAND, {CP_ISDN_PROCEEDING, CP_ISDN_ALERTING}, 0,
         CP_RESPOND_180_SDP, "RINGING"},
        {"NT alerting without channel", 1, CPT_NO_CHANNEL, {CP_ISDN_ALERTING}, 0, CP_RESPOND_180, "RINGING"},
        {"TE alerting without channel: any_state row", 0, CPT_NO_CHANNEL, {CP_ISDN_ALERTING}, 0,
         CP_RESPOND_180_SDP, "RINGING"},
        {"TE with_channel row takes inband states", 0, CPT_WITHOUT_INBAND, {CP_ISDN_PROGRESS}, 0,
         CP_RESPOND_183_SDP, "PROGRESS"},
        {"NT connect", 1, CPT_WITH_CHANNEL, {CP_ISDN_ALERTING, CP_ISDN_CONNECT}, 0, CP_RESPOND_200, "OK"},
        {"no row for setup acknowledge", 1, CPT_ANY_STATE, {CP_ISDN_SETUPACKNOWLEDGE}, -1,
         CP_RESPOND_NOTHING, ""},
        {"empty history", 0, CPT_NO_CHANNEL, {}, -1, CP_RESPOND_NOTHING, ""},
    };
    for (auto &c : cases) {
        char reason[64] = "stale";
        cpt_events answer = CP_ISDN_NOTHING;
        EXPECT_EQ(cpt_search_s2i(gp->s2i_cpt_default, c.nt, c.state, c.h.ring, c.h.size, reason, sizeof reason,
                                 &answer),
                  c.rc)
            << c.what;
        EXPECT_EQ(answer, c.answer) << c.what;
        EXPECT_STREQ(reason, c.reason) << c.what;
    }
}

TEST_F(CallProgress, SearchS2iScoresHistory)
{
    ASSERT_EQ(load_cpt("[s2i:scored]\n"
                       "ntte\tany_state\tALERTING\t180\tone\n"
                       "ntte\tany_state\tALERTING:PROCEEDING\t183\ttwo\n"
                       "ntte\tany_state\tALERTING:PROGRESS\t200\tequal\n"
                       "nt\tany_state\tCONNECT:ALERTING:PROGRESS:PROCEEDING:SETUPACKNOWLEDGE\t200_SDP\tfive\n")
                  .rc,
              0);
    const cpt_s2i *t = cpt_s2i_get_table_by_name("scored");
    ASSERT_NE(t, nullptr);
    struct {
        const char *what;
        int nt;
        history h;
        const char *reason;
    } cases[] = {
        {"two matching events beat one", 1, {CP_ISDN_PROCEEDING, CP_ISDN_ALERTING}, "two"},
        {"a second row event past the history fails the row", 1, {CP_ISDN_ALERTING}, "one"},
        {"equal scores: the earlier row", 1, {CP_ISDN_PROGRESS, CP_ISDN_ALERTING}, "equal"},
        {"all five positions", 1,
         {CP_ISDN_SETUPACKNOWLEDGE, CP_ISDN_PROCEEDING, CP_ISDN_PROGRESS, CP_ISDN_ALERTING, CP_ISDN_CONNECT},
         "five"},
        {"five events, TE port: nt row left out", 0,
         {CP_ISDN_SETUPACKNOWLEDGE, CP_ISDN_PROCEEDING, CP_ISDN_PROGRESS, CP_ISDN_ALERTING, CP_ISDN_CONNECT}, ""},
        // 14 events: the ring wrapped, the most recent sits at (14-1) % 12.
        {"wrapped ring", 1,
         {CP_ISDN_CONNECT, CP_ISDN_CONNECT, CP_ISDN_CONNECT, CP_ISDN_CONNECT, CP_ISDN_CONNECT, CP_ISDN_CONNECT,
          CP_ISDN_CONNECT, CP_ISDN_CONNECT, CP_ISDN_CONNECT, CP_ISDN_CONNECT, CP_ISDN_CONNECT, CP_ISDN_CONNECT,
          CP_ISDN_PROCEEDING, CP_ISDN_ALERTING},
         "two"},
    };
    for (auto &c : cases) {
        char reason[64];
        cpt_events answer;
        cpt_search_s2i(t, c.nt, CPT_NO_CHANNEL, c.h.ring, c.h.size, reason, sizeof reason, &answer);
        EXPECT_STREQ(reason, c.reason) << c.what;
    }
    // The reason text is cut to the buffer.
    history h{CP_ISDN_PROCEEDING, CP_ISDN_ALERTING};
    char small[2];
    cpt_events answer;
    EXPECT_EQ(cpt_search_s2i(t, 1, 0, h.ring, h.size, small, sizeof small, &answer), 0);
    EXPECT_STREQ(small, "t");
    EXPECT_EQ(answer, CP_RESPOND_183);
}

TEST_F(CallProgress, SearchI2s)
{
    struct {
        const char *what;
        int nt, sdp, davnole, status;
        const char *phrase;
        int rc;
        cpt_events answer;
    } cases[] = {
        {"PROGRESS text in any case first", 1, 0, 0, 183, "progress", 0, CP_RESPOND_PROGRESS},
        {"other text falls to the * row", 1, 0, 0, 183, "Session Progress", 5, CP_RESPOND_PROCEEDING},
        {"183 with SDP", 1, 1, 0, 183, "Ringing", 7, CP_RESPOND_PROCEEDING},
        {"from this product", 1, 1, 1, 183, "PrOgReSs", 3, CP_RESPOND_PROGRESS},
        {"180 on TE", 0, 0, 0, 180, "Ringing", 13, CP_RESPOND_ALERTING},
        {"183 on TE skips nt rows", 0, 0, 0, 183, "progress", 14, CP_RESPOND_ALERTING},
        {"180 SDP from this product on TE", 0, 1, 1, 180, nullptr, 19, CP_RESPOND_ALERTING},
        {"dial plan match", 1, 0, 0, 9999, nullptr, 12, CP_RESPOND_PROCEEDING},
        {"181 has no answer", 1, 0, 0, 181, "Forwarded", -1, CP_ISDN_NOTHING},
        {"200 has no answer", 0, 1, 0, 200, "OK", -1, CP_ISDN_NOTHING},
    };
    for (auto &c : cases) {
        cpt_events answer = CP_RESPOND_CONNECT;
        EXPECT_EQ(cpt_search_i2s(gp->i2s_cpt_default, c.nt, c.sdp, c.davnole, c.status, c.phrase, &answer), c.rc)
            << c.what;
        EXPECT_EQ(answer, c.answer) << c.what;
    }
}

TEST_F(CallProgress, SearchS2fxo)
{
    char reason[16] = "stale";
    cpt_events answer;
    EXPECT_EQ(cpt_search_s2fxo(gp->s2fxo_cpt_default, CP_SIP2FXO_DIALING_FINISHED, reason, sizeof reason, &answer),
              0);
    EXPECT_EQ(answer, CP_RESPOND_200);
    EXPECT_STREQ(reason, "OK");
    EXPECT_EQ(cpt_search_s2fxo(gp->s2fxo_cpt_default, CP_SIP2FXO_POLREV, reason, sizeof reason, &answer), 0);
    EXPECT_EQ(answer, CP_RESPOND_NOTHING);
    EXPECT_STREQ(reason, "");
    strcpy(reason, "stale");
    EXPECT_EQ(cpt_search_s2fxo(gp->s2fxo_cpt_default, CP_SIP2FXO_POLREV_CONNECT, reason, sizeof reason, &answer),
              -1);
    EXPECT_EQ(answer, CP_RESPOND_NOTHING);
    EXPECT_STREQ(reason, "");
    EXPECT_EQ(cpt_search_s2fxo(nullptr, CP_SIP2FXO_POLREV, reason, sizeof reason, &answer), -1);
}

TEST_F(CallProgress, FileSectionsAndMessages)
{
    captured c = load_cpt("; comment\n"
                          "stray row before any section\n"
                          "[S2I:Upper]\r\n"
                          "NT\tWITH_INBAND\tALERTING:PROCEEDING\t180_sdp\tRinging here\n"
                          "te\tany_state\talerting\t180\n"
                          "te\tbogus\tALERTING\t180\n"
                          "ntte\n"
                          "\n"
                          "[s2i:default]\n"
                          "nt\tany_state\tCONNECT\t200\n"
                          "[i2s:in]\n"
                          "nt\t183\tProgress\tPROGRESS\n"
                          "te\t180_sdp_davnole\t*\tnone\n"
                          "te\t180\t*\tprogress\n"
                          "[s2fxo:fxo]\n"
                          "TIMER_DIAL=0\n"
                          "timer_polrev=2500\n"
                          "TIMER_ALERTING_STOP=-5\n"
                          "TIMER_BOGUS=7\n"
                          "DIALING_FINISHED\t200\tfine\n"
                          "RINGING\t180\n"
                          "polrev_connect\t181\n"
                          "polrev\n"
                          "[unknown:kind]\n"
                          "nt\tany_state\tCONNECT\t200\n"
                          "[s2i:unclosed\n"
                          "nt\tany_state\tCONNECT\t200\n");
    EXPECT_EQ(c.rc, 0);
    EXPECT_EQ(c.err, "other type of section\n"
                     "ignoring (1) line 5: alerting\n"
                     "ignoring (1) line 6: bogus\n"
                     "other type of section\n"
                     "ignoring (2) line 14: progress\n"
                     "ignoring(3) line 19: TIMER_BOGUS=7\n"
                     "ignoring(3) line 21: RINGING\n"
                     "ignoring(3) line 22: 181\n"
                     "other type of section\n"
                     "other type of section\n");
    EXPECT_EQ(c.out, "unknown1 fxo in event RINGING\n"
                     "unknown1 sip2fxo out event 181\n");

    ASSERT_EQ(gp->sip_to_isdn_call_progress_tables_size, 2);
    const cpt_s2i *up = cpt_s2i_get_table_by_name("Upper");
    ASSERT_EQ(up, &gp->sip_to_isdn_call_progress_tables[0]);
    EXPECT_EQ(cpt_s2i_get_table_by_name("upper"), nullptr); // names are exact
    ASSERT_EQ(up->size, 2);
    EXPECT_EQ(up->port_type[0], CPT_PORT_NT);
    EXPECT_EQ(up->call_progress_channel_state[0], CPT_WITH_INBAND);
    EXPECT_EQ(up->call_progress_events[0][0], CP_ISDN_ALERTING);
    EXPECT_EQ(up->call_progress_events[0][1], CP_ISDN_PROCEEDING);
    EXPECT_EQ(up->call_progress_events[0][2], CP_ISDN_NOTHING);
    EXPECT_EQ(up->call_progress_events_answer_code[0], CP_RESPOND_180_SDP);
    EXPECT_STREQ(up->call_progress_events_answer_string[0], "Ringing here");
    // A row with fewer fields keeps what it has.
    EXPECT_EQ(up->port_type[1], CPT_PORT_NTTE);
    EXPECT_EQ(up->call_progress_channel_state[1], 0);
    EXPECT_EQ(up->call_progress_events[1][0], CP_ISDN_NOTHING);
    EXPECT_EQ(up->call_progress_events_answer_code[1], 0);
    const cpt_s2i *def = cpt_s2i_get_table_by_name("default");
    ASSERT_NE(def, nullptr);
    EXPECT_EQ(def->size, 0);

    const cpt_i2s *in = cpt_i2s_get_table_by_name("in");
    ASSERT_NE(in, nullptr);
    ASSERT_EQ(in->size, 2);
    EXPECT_EQ(in->call_progress_sip_event[1], CP_SIP_180_SDP_DAVNOLE);
    EXPECT_EQ(in->call_progress_isdn_answer_code[1], CP_RESPOND_NOTHING);
    cpt_events answer;
    EXPECT_EQ(cpt_search_i2s(in, 1, 0, 0, 183, "PROGRESS", &answer), 0);
    EXPECT_EQ(answer, CP_RESPOND_PROGRESS);

    const cpt_s2fxo *fxo = cpt_s2fxo_get_table_by_name("fxo");
    ASSERT_NE(fxo, nullptr);
    EXPECT_EQ(fxo->timeout_dial, 10000);
    EXPECT_EQ(fxo->timeout_polrev, 2500);
    EXPECT_EQ(fxo->timeout_alerting_ended, -1);
    ASSERT_EQ(fxo->size, 2);
    EXPECT_EQ(fxo->sip_to_fxo_call_progress_events[1], CP_SIP2FXO_POLREV);
    EXPECT_EQ(fxo->sip_to_fxo_call_progress_events_answer_code[1], 0);
    EXPECT_EQ(fxo->sip_to_fxo_call_progress_events_answer_string[1], nullptr);

    // The listing shows each kind's built-in table, then the file's.
    std::string l = list_tables();
    EXPECT_NE(l.find("Table: s2i:default\n0\tnt\twith_audio"), std::string::npos);
    EXPECT_NE(l.find("Table: s2i:Upper\n0\tnt\twith_audio\tALERTING:PROCEEDING:\t180_SDP\tRinging here\n"
                     "1\tntte\tno_channel\t\t\t\nTable: s2i:default\nTable: i2s:default\n"),
              std::string::npos)
        << l;
    EXPECT_NE(l.find("Table: s2fxo:fxo => dial 10000 ms| polrev 2500  ms| alertingstop -1 ms\n0\tCP_SIP2FXO_DIALING_FINISHED:\t200\tfine\n1\tCP_SIP2FXO_POLREV:\t\t\n"),
              std::string::npos)
        << l;
}

TEST_F(CallProgress, FileBoundsAreKept)
{
    std::string text;
    for (int i = 0; i < 17; i++)
        text += "[s2i:t" + std::to_string(i) + "]\n";
    text += "nt\tany_state\tCONNECT\t200\n"; // line 18, in the refused 17th section
    captured c = load_cpt(text);
    EXPECT_NE(c.err.find("ignoring line 17: more than 16 s2i tables\n"), std::string::npos) << c.err;
    EXPECT_NE(c.err.find("other type of section\n"), std::string::npos);
    EXPECT_EQ(gp->sip_to_isdn_call_progress_tables_size, 16);
    EXPECT_EQ(cpt_s2i_get_table_by_name("t16"), nullptr);
    EXPECT_STREQ(gp->sip_to_isdn_call_progress_tables[15].name, "t15");

    text = "[s2fxo:full]\n";
    for (int i = 0; i < 31; i++)
        text += "POLREV\t180\trow" + std::to_string(i) + "\n";
    text += "TIMER_DIAL=1234\n"; // timers still read in a full table
    text += "[s2i:events]\n"
            "nt\tany_state\tCONNECT:ALERTING:PROGRESS:PROCEEDING:SETUPACKNOWLEDGE:CONNECT\t200\n"
            "nt\tany_state\tCONNECT:ALERTING:PROGRESS:PROCEEDING:SETUPACKNOWLEDGE\t200\n"
            "nt\tany_state\tCONNECT::ALERTING\t200\n";
    c = load_cpt(text);
    EXPECT_NE(c.err.find("ignoring line 32: table s2fxo:full already holds 30 rows\n"), std::string::npos) << c.err;
    EXPECT_NE(c.err.find("ignoring (1) line 35: more than 5 events\n"), std::string::npos) << c.err;
    EXPECT_NE(c.err.find("ignoring (1) line 37: \n"), std::string::npos) << c.err;
    const cpt_s2fxo *full = cpt_s2fxo_get_table_by_name("full");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->size, 30);
    EXPECT_STREQ(full->sip_to_fxo_call_progress_events_answer_string[29], "row29");
    EXPECT_EQ(full->timeout_dial, 1234);
    const cpt_s2i *ev = cpt_s2i_get_table_by_name("events");
    ASSERT_NE(ev, nullptr);
    EXPECT_EQ(ev->size, 1);
    EXPECT_EQ(ev->call_progress_events[0][4], CP_ISDN_SETUPACKNOWLEDGE);
    // The first reload freed the earlier tables.
    EXPECT_EQ(gp->sip_to_isdn_call_progress_tables_size, 1);
    EXPECT_EQ(gp->isdn_to_sip_call_progress_tables_size, 0);
}

TEST_F(CallProgress, LongLinesAndNames)
{
    std::string name(100, 'n');
    std::string text = "[s2i:" + name + "]\n" + "nt\tany_state\tCONNECT\t200\t" + std::string(300, 'x') +
                       "\n" + "te\tbogus\n";
    captured c = load_cpt(text);
    EXPECT_EQ(c.err, "ignoring (1) line 3: bogus\n"); // the tail of line 2 is not a line
    ASSERT_EQ(gp->sip_to_isdn_call_progress_tables_size, 1);
    const cpt_s2i &t = gp->sip_to_isdn_call_progress_tables[0];
    EXPECT_EQ(std::string(t.name), name.substr(0, 63));
    ASSERT_EQ(t.size, 1);
    // 255 characters per line: "nt\tany_state\tCONNECT\t200\t" is 25 of them.
    EXPECT_EQ(strlen(t.call_progress_events_answer_string[0]), 255u - 25u);
}

TEST_F(CallProgress, MissingFileLeavesOnlyBuiltinTables)
{
    ASSERT_EQ(load_cpt("[s2i:a]\nnt\tany_state\tCONNECT\t200\n").rc, 0);
    const cpt_s2i *held = cpt_s2i_get_table_by_name("a"); // as a call holds it
    ASSERT_NE(held, nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(cpt_parse_call_progress_tables((dir + "/missing.cpt").c_str()), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(gp->sip_to_isdn_call_progress_tables_size, 0);
    EXPECT_EQ(cpt_s2i_get_table_by_name("a"), nullptr);
    EXPECT_EQ(held->size, 0); // the slot stays readable, now empty
    char reason[8];
    cpt_events answer;
    history h{CP_ISDN_CONNECT};
    EXPECT_EQ(cpt_search_s2i(held, 1, 0, h.ring, h.size, reason, sizeof reason, &answer), -1);
    EXPECT_EQ(cpt_search_s2i(gp->s2i_cpt_default, 1, 0, h.ring, h.size, reason, sizeof reason, &answer), 0);
}

} // namespace
