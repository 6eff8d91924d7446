// Call-progress tones on a channel of their own.
#include "csm_codes.h"
#include "media_callctl.h"
#include "media_voice.h"
#include "msp_queue.h"
#include "msp_resource.h"
#include "msp_timeslot.h"
#include "pools.h"
#include "tones.h"
#include "voice_rows.h"

namespace {

constexpr int TONE_CHANNEL_TYPE = 17;
constexpr int VOPENA_TONE_ENGINE = 13;

const tone_config *tone_of_type(const tone_config_set *set, int type)
{
    switch (type) {
    case 0: return &set->dial;
    case 1: return &set->ring;
    case 2: return &set->busy;
    case 3: return &set->congestion;
    default: return nullptr;
    }
}

struct tone_blocker {
    uint32_t bit;
    const char *line;
};
// Media that a tone never runs beside, in the order they are tested.
const tone_blocker tone_blockers[] = {
    {MSP_VOICE_ACTIVE, "Not starting tonegen, voice processing active"},
    {MSP_BRIDGED, "Not starting tonegen, bridging active"},
    {MSP_REMOTE_BRIDGED, "Not starting tonegen, remote bridging active"},
    {MSP_T38_ACTIVE, "Not starting tonegen, t38 active"},
    {MSP_HDLC_ACTIVE, "Not starting tonegen, hdlc active"},
    {MSP_MFSIGNALLING_ACTIVE, "Not starting tonegen, mfsignalling active"},
};

void queue_tone_channel(call_object *co, const tone_config *tone)
{
    int ts = co->tdm_logical_timeslot;
    magic_csm create = voice_msg(FC_SUPVSR_CREATE_CHANNEL);
    if (!csm_msg_is_null(create)) {
        create.u_csmdev_create_channel->channel_type = TONE_CHANNEL_TYPE;
        create.u_csmdev_create_channel->timeslot = (uint32_t)ts;
        voice_set_cid(create, co);
    }
    media_put(co, ts, create);

    magic_csm vce = voice_msg(FC_VOIP_VCEOPT);
    if (!csm_msg_is_null(vce))
        vce.u_csmchan_voip_vceopt->pcm_coding_standard = (uint32_t)media_call_get_law_setting(co);
    media_put(co, ts, vce);

    magic_csm on = voice_msg(FC_VOIP_VOPENA);
    if (!csm_msg_is_null(on)) {
        on.u_csmchan_voip_vopena->channel_mode = VOPENA_TONE_ENGINE;
        get_header(on)->msg_length = 10;
    }
    media_put(co, ts, on);

    magic_csm cadence = voice_msg(FC_VOIP_PROGRAM_CADENCE_ENGINE);
    if (!csm_msg_is_null(cadence)) {
        int n = tone->number_of_cadence_parameters;
        for (int i = 0; i < n; i++)
            cadence.u_csmchan_voip_program_cadence_engine->parameter[i] = tone->cadence_parameters[i];
        get_header(cadence)->msg_length = (uint8_t)(2 * n + 8);
    }
    media_put(co, ts, cadence);

    magic_csm engine = voice_msg(FC_VOIP_PROGRAM_TONE_ENGINE);
    if (!csm_msg_is_null(engine)) {
        engine.u_csmchan_voip_program_tone_engine->number_of_tones = tone->number_of_tones;
        for (int i = 0; i < tone->number_of_tones; i++)
            engine.u_csmchan_voip_program_tone_engine->tones[i] = tone->tones[i];
    }
    media_put(co, ts, engine);
}

} // namespace

int call_start_msp_tone(call_object *co, const char *language_code, int type)
{
    if (!co)
        return -1;
    const tone_config_set *set = get_tone_config(language_code);
    if (!set)
        return -1;
    const tone_config *tone = tone_of_type(set, type);
    if (!tone)
        return -1;
    if (tone->number_of_tones > (int)CSM_TONE_ENGINE_TONES || tone->number_of_cadence_parameters < 0 ||
        tone->number_of_cadence_parameters > (int)CSM_CADENCE_WORDS) {
        // The device's records hold 12 tones and 64 cadence words.
        LOGD(MSP, 0, cinfo(co), "CRITICAL: tone %i of \"%s\" has %i tones and %i cadence words, at most %i and %i fit",
             type, language_code ? language_code : "", tone->number_of_tones, tone->number_of_cadence_parameters,
             (int)CSM_TONE_ENGINE_TONES, (int)CSM_CADENCE_WORDS);
        return -1;
    }
    if (co->msp_state & MSP_TONEGEN_ACTIVE)
        call_stop_msp_tone(co, 1);
    for (const tone_blocker &b : tone_blockers)
        if (co->msp_state & b.bit) {
            LOGD(MSP, 5, cinfo(co), "%s", b.line);
            return -1;
        }
    int ts = co->tdm_logical_timeslot;
    if (ts > 511 || ts < 0) {
        LOGD_CALL(TARN, 2, co, "couldn't start channel processing, do not have a valid timeslot yet!");
        return -1;
    }
    msp_queue_lock_take();
    if (msp_will_timeslot_be_free(ts) <= 0) {
        LOGD_CALL(TARN, 0, co, "CRITICAL: couldn't start channel processing, timeslot %i seems to be still in use (pid %i,bc %p, co %p)!",
                  ts, co->pid, (void *)co->bc, (void *)co);
        msp_list_queue();
        msp_list_timeslot_manager(__func__, __LINE__);
        msp_queue_lock_release();
        return -1;
    }
    msp_release_all_resources(co, &co->msp_resources_reserved);
    if (msp_request_resource(co, &co->msp_resources_active, MSPRES_G711_20) == -1) {
        LOGD(MSP, 0, cinfo(co), "CRITICAL: cannot start tonegen, mo MSP resources left");
        msp_queue_lock_release();
        return -1;
    }
    queue_tone_channel(co, tone);
    co->msp_state |= MSP_TONEGEN_ACTIVE;
    msp_queue_lock_release();
    return 0;
}

