#include "msp_timeslot.h"

#include <cstring>

#include "csm_log.h"
#include "log.h"
#include "msp_queue.h"

int timeslot_manager[MSP_TIMESLOTS];
void *timeslot_manager_context[MSP_TIMESLOTS];
int timeslot_manager_pid[MSP_TIMESLOTS];
void *timeslot_manager_bc[MSP_TIMESLOTS];
char timeslot_manager_cinfo[MSP_TIMESLOTS][MSP_CINFO_SIZE];

namespace {

bool valid(int timeslot)
{
    return timeslot >= 0 && timeslot < MSP_TIMESLOTS;
}

void set_free(int ts)
{
    timeslot_manager[ts] = MSP_CHANNEL_FREE;
    timeslot_manager_context[ts] = nullptr;
    timeslot_manager_pid[ts] = 0;
    timeslot_manager_bc[ts] = nullptr;
}

} // namespace

void msp_init_timeslots()
{
    for (int ts = 0; ts < MSP_TIMESLOTS; ts++) {
        set_free(ts);
        timeslot_manager_cinfo[ts][0] = '\0';
    }
    msp_set_timeslot_lookups(get_timeslot_for_channel, get_cid_for_timeslot);
}

int msp_assign_channel_to_timeslot(int timeslot, int channel, csminstruction *instruction)
{
    if (!valid(timeslot))
        TARN_EXIT(105, "invalid  MSP timeslot %i:%i", timeslot, channel);
    timeslot_manager[timeslot] = channel;
    if (instruction) {
        timeslot_manager_context[timeslot] = instruction->context;
        timeslot_manager_pid[timeslot] = instruction->pid;
        timeslot_manager_bc[timeslot] = instruction->bc;
    }
    return 1;
}

int msp_release_timeslot(void *context, int timeslot)
{
    msp_call_tag call(context);
    const char *tag = call.text;
    if (timeslot == -1) {
        LOGD(MSP, 0, tag, "CRITICAL: trying to release unset timeslot ");
        return 0;
    }
    if (!valid(timeslot)) {
        LOGD(MSP, 0, tag, "CRITICAL: trying to release invalid timeslot %i", timeslot);
        return 1;
    }
    if (msp_logging_active)
        LOGD(MSP, 9, tag, "releasing timeslot %i", timeslot);
    if (timeslot_manager[timeslot] == MSP_CHANNEL_FREE)
        LOGD(MSP, 9, tag, "but already seems to be released");
    set_free(timeslot);
    return 1;
}

int msp_mark_timeslot_used(int timeslot)
{
    if (!valid(timeslot)) {
        LOGD(MSP, 0, nullptr, "CRITICAL: msp_mark_timeslot_used: use of invalid timeslot");
        return -1;
    }
    int v = timeslot_manager[timeslot];
    if (v == MSP_CHANNEL_PENDING) {
        LOGD(MSP, 1, nullptr,
             "CRITICAL: msp_mark_timeslot_used: timeslot/channel mapping unclean, has value ts[%i]=MSP_CHANNEL_PENDING",
             timeslot);
        return -1;
    }
    if (v != MSP_CHANNEL_FREE) {
        LOGD(MSP, 1, nullptr,
             "CRITICAL: msp_mark_timeslot_used: timeslot/channel mapping unclean, has value ts[%i]=%i",
             timeslot, v);
        return -1;
    }
    timeslot_manager[timeslot] = MSP_CHANNEL_PENDING;
    return 0;
}

int msp_is_timeslot_in_use(int timeslot)
{
    return valid(timeslot) && timeslot_manager[timeslot] != MSP_CHANNEL_FREE ? 1 : 0;
}

int msp_timeslot_to_channel(int timeslot)
{
    return valid(timeslot) ? timeslot_manager[timeslot] : -1;
}

int get_channel_for_timeslot(int timeslot)
{
    return msp_timeslot_to_channel(timeslot);
}

int msp_channel_to_timeslot(int channel)
{
    for (int ts = 0; ts < MSP_TIMESLOTS; ts++)
        if (timeslot_manager[ts] == channel)
            return ts;
    return -1;
}

int get_timeslot_for_channel(int channel)
{
    return msp_channel_to_timeslot(channel);
}

const char *get_cid_for_timeslot(int timeslot)
{
    return valid(timeslot) ? timeslot_manager_cinfo[timeslot] : "CID:000000:00";
}

int set_cid_for_timeslot(int timeslot, const char *tag)
{
    if (!valid(timeslot))
        return -1;
    snprintf(timeslot_manager_cinfo[timeslot], MSP_CINFO_SIZE, "%s", tag ? tag : "");
    return 0;
}

int _msp_list_timeslot_manager()
{
    for (int ts = 0; ts < MSP_TIMESLOTS; ts++)
        if (timeslot_manager[ts] != MSP_CHANNEL_FREE)
            LOGD(MSP, 0, nullptr, "msp timeslot %i => %i (context %p,pid %i,bc %p)", ts,
                 timeslot_manager[ts], timeslot_manager_context[ts], timeslot_manager_pid[ts],
                 timeslot_manager_bc[ts]);
    return 0;
}

int msp_list_timeslot_manager(const char *, int)
{
    if (msp_extra_debugging)
        _msp_list_timeslot_manager();
    return 0;
}

void _msp_list_timeslot_manager_fprintf(FILE *stream)
{
    if (!stream)
        return;
    for (int ts = 0; ts < MSP_TIMESLOTS; ts++)
        if (timeslot_manager[ts] != MSP_CHANNEL_FREE)
            fprintf(stream, "msp timeslot %i => %i (context %p,pid %i,bc %p)\n", ts,
                    timeslot_manager[ts], timeslot_manager_context[ts], timeslot_manager_pid[ts],
                    timeslot_manager_bc[ts]);
}

void msp_list_timeslot_manager_fprintf(FILE *stream)
{
    if (msp_extra_debugging)
        _msp_list_timeslot_manager_fprintf(stream);
}

void msp_print_tschan_map(FILE *stream)
{
    if (!stream)
        return;
    for (int ts = 0; ts < MSP_TIMESLOTS; ts++)
        if (timeslot_manager[ts] != MSP_CHANNEL_FREE)
            fprintf(stream, "timeslot %i => channel %i\n", ts, timeslot_manager[ts]);
}

void list_tschan_map()
{
    for (int ts = 0; ts < MSP_TIMESLOTS; ts++)
        if (timeslot_manager[ts] != MSP_CHANNEL_FREE)
            LOGD(MSP, 5, nullptr,
                 "_______________--------------------________________-----------timeslot[%i]=%i",
                 ts, timeslot_manager[ts]);
}
