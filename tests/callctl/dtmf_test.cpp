// DTMF digits on a call without the media processor: tone codes both ways,
// the dtmfremoval table, the feature code step, silent feature codes that
// hold digits back and trigger MCID, the play-out spacing, the bounded
// play-out buffer, the detector tuning text and the MFC/R2 forward signals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analogctl.h"
#include "call_configuration.h"
#include "call_reset.h"
#include "callctl_world.h"
#include "dialplan.h"
#include "dtmf.h"
#include "global_lock.h"
#include "isdn_lib_types.h"
#include "media_callctl.h"
#include "media_relay.h"
#include "misdn_bchannel.h"
#include "sm_tasks.h"
#include "state_table_actions.h"
#include "xdv_headers.h"

namespace {

// What left the call: "S<code>/<ms>" toward SIP, "T<char>/<ms>" in-band toward TDM.
std::vector<std::string> out;
void rec_sip(call_object *, int code, int ms) { out.push_back("S" + std::to_string(code) + "/" + std::to_string(ms)); }
void rec_inband(call_object *, const char *d, int dir, int ms)
{
    out.push_back(std::string(dir == TO_TDM ? "T" : "P") + d[0] + "/" + std::to_string(ms));
}
std::vector<int> isdn_sent;
void rec_isdn(call_object *, int event) { isdn_sent.push_back(event); }
std::vector<std::pair<int, int>> analog_sent;
void rec_analog(call_object *, int port, int event) { analog_sent.push_back({port, event}); }
std::vector<std::pair<int, int>> mf_sent;
void rec_mf(call_object *, int dir, int signal, int) { mf_sent.push_back({dir, signal}); }

class Dtmf : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(callctl_world(2));
        out.clear();
        isdn_sent.clear();
        analog_sent.clear();
        mf_sent.clear();
        dtmf_senders s{rec_sip, rec_inband};
        dtmf_set_senders(&s);
        isdn_callctl_hooks h{};
        h.tarn_misdn_lib_send_event = rec_isdn;
        isdn_callctl_set_hooks(&h);
        bc_ = misdn_bchannel{};
        co_ = get_free_operation_handle(1);
        ASSERT_NE(co_, nullptr);
        co_->callinfo = CI_SIP_TO_ISDN;
        co_->sm_state = SM_CALL_ACTIVE;
        co_->bc = &bc_;
        co_->cc.dtmflen = 100;
        co_->cc.dtmfinterval = 400;
    }
    void TearDown() override
    {
        co_->bc = nullptr;
        {
            lock_hold hold(&lock_manager::global_lock);
            reset_op(co_);
        }
        free_task_list(gp->smrunlist);
        gp->smrunlist = nullptr;
        dtmf_set_senders(nullptr);
        dtmf_set_line_hooks(nullptr);
        isdn_callctl_set_hooks(nullptr);
        timer_exit();
    }
    // Feature codes as the configuration writes them, silent or not.
    void codes(const char *text, bool silent)
    {
        cc_parse_feature_codes(&co_->cc.feature_codes, text);
        co_->cc.feature_codes_silent = silent;
        co_->cc.rfc2833_dtmf_passthrough = 0;
        co_->f.regenerate_inband_dtmf_to_tdm = 1;
    }
    void digits(int dir, const char *s)
    {
        for (; *s; s++)
            process_dtmf(dir, co_, ascii_to_tonedetect(*s));
    }
    int flush_ticks() const
    {
        return co_->feature_code_flush_timer ? co_->feature_code_flush_timer->interval_save : -1;
    }
    void flush_tick() { sm_call_flush_dtmf_digit(co_, nullptr, (int32_t)co_->sm_state, 0); }
    int tasks(int word) const
    {
        int n = 0;
        for (sm_run_info *t = gp->smrunlist ? gp->smrunlist->first : nullptr; t; t = t->list)
            n += t->event == word;
        return n;
    }
    misdn_bchannel bc_;
    call_object *co_ = nullptr;
};

TEST(DtmfCodes, BothWays)
{
    const char *chars = "0123456789*#ABCD";
    for (int code = 0; code < 16; code++) {
        EXPECT_EQ(tonedetect_to_ascii(code), chars[code]);
        EXPECT_EQ(ascii_to_tonedetect(chars[code]), code);
    }
    for (char c : {'a', 'b', 'c', 'd'})
        EXPECT_EQ(ascii_to_tonedetect(c), 12 + (c - 'a'));
    for (int code : {-1, 16, 255, 1000})
        EXPECT_EQ((unsigned char)tonedetect_to_ascii(code), 255u);
    for (char c : {'E', 'e', ';', ':', ' ', '\0', 'f'})
        EXPECT_EQ(ascii_to_tonedetect(c), -1);
}

TEST_F(Dtmf, RemovalTableAndFeatureCodeFlags)
{
    EXPECT_EQ(set_dtmf_generation_and_filter_options(co_), -1); // no dial plan result yet
    dialplan_element dp{};
    co_->dp = &dp;
    // dtmfremoval, DTMF mode: filter TDM, filter packet, regenerate TDM, regenerate packet
    const struct {
        int removal, mode, ft, fp, rt, rp;
    } rows[] = {
        {0, CC_DTMF_RFC2833, 1, 1, 0, 1}, {0, CC_DTMF_INBAND, 1, 1, 0, 0}, {1, CC_DTMF_INFO, 1, 0, 0, 1},
        {1, CC_DTMF_INBAND, 1, 0, 0, 0},  {2, CC_DTMF_RFC2833, 0, 1, 0, 0}, {2, CC_DTMF_INBAND, 0, 1, 0, 0},
        {3, CC_DTMF_RFC2833, 0, 0, 0, 1}, {3, CC_DTMF_INBAND, 0, 0, 0, 0},  {-4, CC_DTMF_INFO, 0, 0, 0, 1},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.removal) + "/" + std::to_string(r.mode));
        co_->cc.dtmfremoval = r.removal;
        co_->cc.dtmfmode = r.mode;
        co_->f.regenerate_inband_dtmf_to_tdm = 1;
        EXPECT_EQ(set_dtmf_generation_and_filter_options(co_), 0);
        EXPECT_EQ(co_->f.filter_inband_dtmf_from_tdm, (unsigned)r.ft);
        EXPECT_EQ(co_->f.filter_inband_dtmf_from_packet, (unsigned)r.fp);
        EXPECT_EQ(co_->f.regenerate_inband_dtmf_to_tdm, (unsigned)r.rt);
        EXPECT_EQ(co_->f.regenerate_inband_dtmf_to_packet, (unsigned)r.rp);
    }
    // Code directions: "b" ends the walk with both; "f" is the packet side of
    // a call from SIP and the TDM side of a call from a line; "t" the reverse.
    const struct {
        int ci;
        const char *codes;
        unsigned tdm, packet;
    } dirs[] = {
        {CI_SIP_TO_ISDN, "f:*1:mcid", 0, 1}, {CI_SIP_TO_ISDN, "t:*1:mcid", 1, 0},
        {CI_ISDN_TO_SIP, "f:*1:mcid", 1, 0}, {CI_ISDN_TO_SIP, "t:*1:mcid", 0, 1},
        {CI_SIP_TO_ANALOG, "b:*1:afh;f:*2:mcid", 1, 1}, {CI_ANALOG_TO_SIP, "", 0, 0},
    };
    for (const auto &d : dirs) {
        SCOPED_TRACE(d.codes);
        co_->callinfo = d.ci;
        co_->cc.feature_codes = feature_code_def{};
        cc_parse_feature_codes(&co_->cc.feature_codes, d.codes);
        set_dtmf_generation_and_filter_options(co_);
        EXPECT_EQ(co_->f.can_get_feature_code_from_tdm, d.tdm);
        EXPECT_EQ(co_->f.can_get_feature_code_from_packet, d.packet);
    }
    co_->dp = nullptr;
}

TEST_F(Dtmf, FeatureCodeStep)
{
    cc_parse_feature_codes(&co_->cc.feature_codes, "b:*99#:mcid;f:*5:afh;t:#7:none");
    // On a SIP-to-ISDN call packet digits are the calling party's ("f").
    const struct {
        int ci, dir;
        char digit;
        int result, index;
    } steps[] = {
        {CI_SIP_TO_ISDN, DTMF_FROM_PACKET, '*', FC_WAIT_F, -1},
        {CI_SIP_TO_ISDN, DTMF_FROM_PACKET, '9', FC_WAIT_F, -1},
        {CI_SIP_TO_ISDN, DTMF_FROM_PACKET, '9', FC_WAIT_F, -1},
        {CI_SIP_TO_ISDN, DTMF_FROM_PACKET, '#', FC_MATCH_F, 0},
        {CI_SIP_TO_ISDN, DTMF_FROM_PACKET, '*', FC_WAIT_F, -1},
        {CI_SIP_TO_ISDN, DTMF_FROM_PACKET, '5', FC_MATCH_F, 1},
        {CI_SIP_TO_ISDN, DTMF_FROM_PACKET, '1', FC_FLUSH_F, -1},
        {CI_SIP_TO_ISDN, DTMF_FROM_TDM, '#', FC_WAIT_T, -1},
        {CI_SIP_TO_ISDN, DTMF_FROM_TDM, '7', FC_MATCH_T, 2},
        {CI_ISDN_TO_SIP, DTMF_FROM_TDM, '*', FC_WAIT_F, -1}, // a line's own digits are "f"
        {CI_ISDN_TO_SIP, DTMF_FROM_TDM, '6', FC_FLUSH_F, -1},
        {CI_ISDN_TO_SIP, DTMF_FROM_PACKET, '#', FC_WAIT_T, -1},
        {CI_SIP_TO_SIP, DTMF_FROM_PACKET, '*', FC_NONE, -1},
        {CI_SIP_TO_GSM, DTMF_FROM_PACKET, '*', FC_NONE, -1},
        {CI_SIP_TO_ISDN, DTMF_FROM_PACKET, 16, FC_NONE, -1}, // no digit
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(std::string(1, s.digit) + " on " + std::to_string(s.ci));
        co_->callinfo = s.ci;
        int index = -1;
        int code = s.digit == 16 ? 16 : ascii_to_tonedetect(s.digit);
        EXPECT_EQ(check_featurecode(s.dir, co_, code, &index), s.result);
        EXPECT_EQ(index, s.index);
        if (s.result == FC_FLUSH_F) // the caller of the step empties the buffer
            co_->cc.feature_codes.fbuffer[0] = '\0';
    }
    // Without a code of the digit's party the digit is not held.
    co_->callinfo = CI_SIP_TO_ISDN;
    co_->cc.feature_codes = feature_code_def{};
    cc_parse_feature_codes(&co_->cc.feature_codes, "t:#7:none");
    EXPECT_EQ(check_featurecode(DTMF_FROM_PACKET, co_, 1, nullptr), FC_NONE);
    EXPECT_STREQ(co_->cc.feature_codes.fbuffer, "");
    // The held digits never pass 31 characters.
    cc_parse_feature_codes(&co_->cc.feature_codes, "f:1111111111111111111111111111111:none");
    co_->cc.feature_codes.fbuffer[0] = '\0';
    for (int i = 0; i < 40; i++)
        check_featurecode(DTMF_FROM_PACKET, co_, 2, nullptr);
    EXPECT_EQ(strlen(co_->cc.feature_codes.fbuffer), 31u);
}

// *99# silent: held back, MCID sent, nothing played.
TEST_F(Dtmf, SilentCodeSendsMcidAndNoDigit)
{
    codes("b:*99#:mcid", true);
    digits(DTMF_FROM_PACKET, "*99");
    EXPECT_NE(co_->feature_code_f_timer, nullptr);
    EXPECT_EQ(co_->feature_code_f_timer->interval_save, 200); // 2 s
    digits(DTMF_FROM_PACKET, "#");
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(isdn_sent, std::vector<int>{EVENT_FACILITY});
    EXPECT_EQ(bc_.fac_out.Function, Fac_MCID);
    EXPECT_EQ(co_->feature_code_flush_timer, nullptr);
    EXPECT_STREQ(co_->cc.feature_codes.fbuffer, "");
    EXPECT_FALSE(timer_is_armed(co_->feature_code_f_timer));
}

// *95: the held *9 and the 5 go to TDM one digit per dtmfinterval.
TEST_F(Dtmf, SilentNonCodeIsPlayedOutSpaced)
{
    codes("b:*99#:mcid", true);
    co_->cc.dtmfinterval = 250;
    digits(DTMF_FROM_PACKET, "*95");
    EXPECT_EQ(out, std::vector<std::string>{"T*/100"}); // the first at once
    EXPECT_EQ(flush_ticks(), 25);
    EXPECT_STREQ(co_->feature_code_flush_buffer, "95");
    EXPECT_STREQ(co_->feature_code_flush_buffer_dir, "tt");
    flush_tick();
    flush_tick();
    EXPECT_EQ(out, (std::vector<std::string>{"T*/100", "T9/100", "T5/100"}));
    EXPECT_EQ(flush_ticks(), 25);
    EXPECT_TRUE(isdn_sent.empty());
    flush_tick(); // nothing left: nothing played
    EXPECT_EQ(out.size(), 3u);
}

// *9 and no more: the code timer's expiry plays both toward TDM.
TEST_F(Dtmf, HeldPrefixFlushedAtTimerExpiry)
{
    codes("b:*99#:mcid", true);
    digits(DTMF_FROM_PACKET, "*9");
    EXPECT_TRUE(out.empty());
    sm_call_fcf_buffer_to_flashbuf(co_, nullptr, SM_CALL_ACTIVE, 0);
    flush_tick();
    EXPECT_EQ(out, (std::vector<std::string>{"T*/100", "T9/100"}));
    // From the line side the called party's held digits go to SIP.
    out.clear();
    digits(DTMF_FROM_TDM, "*9");
    sm_call_fct_buffer_to_flashbuf(co_, nullptr, SM_CALL_ACTIVE, 0);
    flush_tick(); // the play-out timer runs already: one digit a tick
    flush_tick();
    EXPECT_EQ(out, (std::vector<std::string>{"S10/100", "S9/100"}));
    // Digits that came as ISDN information elements are not sent again.
    out.clear();
    digits(DTMF_FROM_TDM, "*9");
    co_->f.feature_code_got_isdn_information_element = 1;
    sm_call_fct_buffer_to_flashbuf(co_, nullptr, SM_CALL_ACTIVE, 0);
    flush_tick();
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(co_->f.feature_code_got_isdn_information_element, 0u);
    EXPECT_STREQ(co_->cc.feature_codes.tbuffer, "");
}

// Not silent: every digit passes at once, the code still fires.
TEST_F(Dtmf, NotSilentPassesAtOnce)
{
    codes("b:*99#:mcid", false);
    digits(DTMF_FROM_PACKET, "*99#");
    EXPECT_EQ(out, (std::vector<std::string>{"T*/100", "T9/100", "T9/100", "T#/100"}));
    EXPECT_EQ(isdn_sent, std::vector<int>{EVENT_FACILITY});
    out.clear();
    digits(DTMF_FROM_TDM, "1");
    co_->f.feature_code_got_isdn_information_element = 1;
    digits(DTMF_FROM_TDM, "2");
    EXPECT_EQ(out, std::vector<std::string>{"S1/50"});
    EXPECT_EQ(co_->f.feature_code_got_isdn_information_element, 0u);
    // RTP event passthrough: only SIP INFO digits are regenerated.
    out.clear();
    co_->cc.rfc2833_dtmf_passthrough = 1;
    digits(DTMF_FROM_PACKET, "3");
    co_->f.got_sip_info_dtmf = 1;
    digits(DTMF_FROM_PACKET, "4");
    EXPECT_EQ(out, std::vector<std::string>{"T4/100"});
    // A value that is no digit sends nothing.
    out.clear();
    process_dtmf(DTMF_FROM_PACKET, co_, 99);
    process_dtmf(DTMF_FROM_TDM, co_, -1);
    EXPECT_TRUE(out.empty());
}

TEST_F(Dtmf, PlayOutIntervals)
{
    co_->f.regenerate_inband_dtmf_to_tdm = 1;
    const struct {
        int interval, ticks;
    } rows[] = {{5, 2}, {20, 2}, {400, 40}, {990, 99}, {2000, 99}, {-3, 2}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.interval);
        co_->cc.dtmfinterval = r.interval;
        char buf[] = "12";
        _fcbuf_to_flushbuf(DTMF_FLUSH_TO_TDM, co_, buf);
        EXPECT_EQ(flush_ticks(), r.ticks);
        flush_tick();
        EXPECT_EQ(flush_ticks(), r.ticks);
        timer_remove(co_->feature_code_flush_timer);
        co_->feature_code_flush_timer = nullptr;
    }
    // "123;4": 1, 2, 3, then a 1 s pause, then 4; ':' plays nothing.
    out.clear();
    co_->cc.dtmfinterval = 100;
    char dial[] = "123;4:";
    _fcbuf_to_flushbuf(DTMF_FLUSH_TO_TDM, co_, dial);
    std::vector<int> ticks = {flush_ticks()};
    for (int i = 0; i < 5; i++) {
        flush_tick();
        ticks.push_back(flush_ticks());
    }
    EXPECT_EQ(ticks, (std::vector<int>{10, 10, 10, 100, 10, 10}));
    EXPECT_EQ(out, (std::vector<std::string>{"T1/100", "T2/100", "T3/100", "T4/100"}));
    // A buffer that begins with the pause waits 1 s before its first digit.
    timer_remove(co_->feature_code_flush_timer);
    co_->feature_code_flush_timer = nullptr;
    char pause[] = ";5";
    _fcbuf_to_flushbuf(DTMF_FLUSH_TO_PACKET, co_, pause);
    EXPECT_EQ(flush_ticks(), 100);
}

// Appends never run past the 64-byte buffers, and both stay in step.
TEST_F(Dtmf, PlayOutBufferBounded)
{
    co_->f.regenerate_inband_dtmf_to_tdm = 1;
    char first[] = "1";
    _fcbuf_to_flushbuf(DTMF_FLUSH_TO_TDM, co_, first); // played at once
    for (int i = 0; i < 5; i++) {
        char chunk[] = "0123456789012345678901234567890"; // 31, as a code buffer holds
        _fcbuf_to_flushbuf(i % 2 ? DTMF_FLUSH_TO_PACKET : DTMF_FLUSH_TO_TDM, co_, chunk);
        EXPECT_STREQ(chunk, "");
    }
    EXPECT_EQ(strlen(co_->feature_code_flush_buffer), (size_t)DTMF_FLUSH_BUFFER_MAX);
    EXPECT_EQ(strlen(co_->feature_code_flush_buffer_dir), (size_t)DTMF_FLUSH_BUFFER_MAX);
    EXPECT_EQ(std::string(co_->feature_code_flush_buffer_dir).substr(29, 3), "ttp");
    // Out of step (a line dialler wrote only digits): the shorter counts.
    co_->feature_code_flush_buffer_dir[10] = '\0';
    char more[] = "9";
    _fcbuf_to_flushbuf(DTMF_FLUSH_TO_PACKET, co_, more);
    EXPECT_STREQ(co_->feature_code_flush_buffer + 10, "9");
    EXPECT_STREQ(co_->feature_code_flush_buffer_dir + 10, "p");
}

// The end of dialling on an FXO line once the last digit is played.
TEST_F(Dtmf, FxoAndCasDialingFinished)
{
    co_->callinfo = CI_SIP_TO_ANALOG;
    co_->sm_state = SM_ANALOG_FXO_OFFHOOK;
    co_->f.regenerate_inband_dtmf_to_tdm = 1;
    char one[] = "1";
    _fcbuf_to_flushbuf(DTMF_FLUSH_TO_TDM, co_, one);
    const int fxo_done = sm_general(GENERAL_EVENT_ANALOG_FXO_DIALING_FINISHED);
    EXPECT_EQ(tasks(fxo_done), 1);
    char two[] = "23";
    _fcbuf_to_flushbuf(DTMF_FLUSH_TO_TDM, co_, two);
    flush_tick();
    EXPECT_EQ(tasks(fxo_done), 1);
    flush_tick();
    EXPECT_EQ(tasks(fxo_done), 2);
    // MF signalling on CAS: the MFC/R2 play-out (built with CAS) is asked.
    co_->callinfo = CI_SIP_TO_CAS;
    co_->sm_state = SM_CAS_MF_SIGNALLING;
    static int left;
    left = 1;
    dtmf_line_hooks h{};
    h.process_cas_e1_flush_buffer = [](call_object *) { return left--; };
    dtmf_set_line_hooks(&h);
    const int cas_done = sm_general(GENERAL_EVENT_CAS_FXO_DIALING_FINISHED);
    flush_tick();
    EXPECT_EQ(tasks(cas_done), 0);
    flush_tick();
    EXPECT_EQ(tasks(cas_done), 1);
}

TEST_F(Dtmf, FlashHookThroughTheAnalogHook)
{
    co_->callinfo = CI_SIP_TO_ANALOG;
    co_->analog_port = 0x800 | 3;
    do_fc_event(co_, IFC_AFH); // unfilled: logs once, sends nothing
    dtmf_line_hooks h{};
    h.verbose_analog_send_event = rec_analog;
    dtmf_set_line_hooks(&h);
    do_fc_event(co_, IFC_AFH);
    EXPECT_EQ(analog_sent, (std::vector<std::pair<int, int>>{{3, ANALOG_EVENT_FLASHHOOK}}));
    co_->callinfo = CI_SIP_TO_ISDN;
    do_fc_event(co_, IFC_AFH);
    do_fc_event(co_, IFC_NONE);
    EXPECT_EQ(analog_sent.size(), 1u);
    co_->bc = nullptr;
    do_fc_event(co_, IFC_MCID); // no B-channel: nothing
    EXPECT_TRUE(isdn_sent.empty());
}

TEST(DtmfTune, Params)
{
    const struct {
        const char *text;
        int v[6];
    } rows[] = {
        {"", {18, 80, 40, 320, 0, 6}},
        {nullptr, {18, 80, 40, 320, 0, 6}},
        {"1:2:3:4:5:6:7:8", {1, 2, 3, 4, 5, 6}},
        {"10::30", {10, 80, 30, 320, 0, 6}},
        {"x:-5:4y", {18, -5, 40, 320, 0, 6}},
        {"25", {25, 80, 40, 320, 0, 6}},
        {"1:2:3:4:5:6666666666666666666666666666666666", {1, 2, 3, 4, 5, 6}}, // cut at 31 characters
        {"99999999999999999999", {18, 80, 40, 320, 0, 6}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.text ? r.text : "(null)");
        int v[6] = {-1, -1, -1, -1, -1, -1};
        parse_dtmf_tune_params(r.text, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
        for (int i = 0; i < 6; i++)
            EXPECT_EQ(v[i], r.v[i]) << i;
    }
}

TEST_F(Dtmf, MfcR2ForwardSignals)
{
    const struct {
        char c;
        int signal;
    } rows[] = {{'1', 11}, {'5', 15}, {'9', 19}, {'0', 20}, {':', 25}, {'f', 14},
                {'*', 0},  {'#', 0},  {';', 0},  {'A', 0},  {'\0', 0}};
    for (const auto &r : rows)
        EXPECT_EQ(cas_e1_forward_signal(r.c), r.signal) << r.c;
    media_callctl_iface m{};
    m.send_mfcr2_tone = rec_mf;
    media_set_callctl_iface(&m);
    co_->callinfo = CI_SIP_TO_CAS;
    send_cas_e1_digit_to_tdm(co_, '3', 1000); // regeneration off: nothing
    co_->f.regenerate_inband_dtmf_to_tdm = 1;
    send_cas_e1_digit_to_tdm(co_, '3', 1000);
    send_cas_e1_digit_to_tdm(co_, '*', 1000);
    send_cas_e1_digit_to_tdm(co_, ':', 1000);
    EXPECT_EQ(mf_sent, (std::vector<std::pair<int, int>>{{3, 13}, {3, 25}}));
    media_set_callctl_iface(nullptr);
}

// The wiring: the media record's DTMF entries and the configuration's hook.
TEST(DtmfWiring, Installed)
{
    media_set_callctl_iface(nullptr);
    dtmf_install();
    EXPECT_EQ(media_callctl().process_dtmf, &process_dtmf);
    EXPECT_EQ(media_callctl().tonedetect_to_ascii, &tonedetect_to_ascii);
    EXPECT_EQ(media_callctl().parse_dtmf_tune_params, &parse_dtmf_tune_params);
    media_set_callctl_iface(nullptr);
}

} // namespace
