// Drives the library into one of its fatal ends against the simulator
// named by TARN_MSP_SIM; the test checks how the process ended.
//   msp_fatal_driver create_refused|create_refused_handled|no_answer|send_fails|bad_timeslot
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "csm_codes.h"
#include "csm_message.h"
#include "log.h"
#include "msp_dispatch.h"
#include "msp_link.h"
#include "msp_manager.h"
#include "msp_queue.h"

namespace {

// Ends the process on a refused creation the way call control does.
intptr_t exiting_handler(magic_csm msg, int eventtype, int)
{
    const csm_header *h = eventtype == MSP_EVENT_MESSAGE ? get_header(msg) : nullptr;
    if (h && h->function_code == FC_SUPVSR_CREATE_CHANNEL && h->command_type == CSM_TYPE_RESPONSE &&
        msg.u_csmdev_create_channel_response->response_code == 0xFFEE)
        TARN_EXIT(113, "handle_msp_event: no more msp channels left");
    return 0;
}

int create(int timeslot)
{
    magic_csm m = create_default_csm_msg(FC_SUPVSR_CREATE_CHANNEL, 1);
    return _msp_queue_command(m, timeslot, nullptr, 1, 0, __FILE__, __func__, __LINE__);
}

int ping()
{
    magic_csm m = create_default_csm_msg(FC_SUPVSR_SET_PCM_LAW, 2);
    return _msp_queue_command(m, 0xFFFF, nullptr, 1, 0, __FILE__, __func__, __LINE__);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    const char *what = argv[1];
    // As in the daemon: a fatal end on any thread stops the library first.
    tarn_set_exit_stop(msp_stop_lib);
    const uint8_t mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    if (msp_init_interface("lo", mac) != 0)
        return 3;
    bool handled = strcmp(what, "create_refused_handled") == 0;
    if (msp_init_lib(handled ? exiting_handler : nullptr, nullptr) != 0)
        return 4;
    cman->msplib_initializing = 0;

    if (!strcmp(what, "create_refused") || handled || !strcmp(what, "no_answer")) {
        create(5);
    } else if (!strcmp(what, "bad_timeslot")) {
        create(600);
    } else if (!strcmp(what, "send_fails")) {
        if (ping() != 0)
            return 5;
        // The device goes away; the next command cannot be sent.
        struct stat st;
        for (int i = 0; i < 500 && stat(getenv("TARN_MSP_SIM"), &st) == 0; i++)
            usleep(10000);
        ping();
    }
    return 0;
}
