// The media processor's device bring-up at start: TDM buses, network
// identity and options, and the clearing of channels an earlier run of the
// daemon left active.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One step of the bring-up: the messages of one function code to the device.
struct msp_device_step {
    int step;
    int function_code;
    // How many messages the step sends; -1 fails the bring-up. Null: one.
    int (*count)();
    // Sets the fields of message k: 0 send it, 1 leave it out, -1 fail the
    // bring-up (the message is dropped). Null: the constructor's defaults.
    int (*fields)(void *record, int k);
    int waits;
    // Media-processor logging follows eo_msp_initial_logging (else it is on).
    int initial_logging;
    // Runs instead of the messages when count gives 0.
    void (*otherwise)();
    // Runs after the step's messages.
    void (*after)();
    // A waiting message the device refuses ends the process with this code.
    int exit_code;
    const char *exit_text;
};
extern const msp_device_step msp_device_steps[];
extern const int msp_device_step_count;

// The answer to a create-channel query: channel type (0xffff: none active)
// and channel number found on the timeslot asked about.
extern volatile int msp_cleanup_channel_type;
extern volatile int msp_cleanup_channel_id;

// The bring-up sequence: 0, or -1 after a configuration read failure.
int init_msp_device();
// Removes the channels left active on the media processor.
void clear_channels();
// Disables the transcoding of every pair of the channels (in list order).
void init_cleanup_transconnect_calls(const int *channels, int count);
// Every timeslot 0..count-1 silent.
void make_tdm_silent(int count);
// Programs (or removes) the multicast MAC 01:00:5e:00:b4:b5, waiting for the
// answer.
void set_multicast_address(int remove, uint8_t b4, uint8_t b5);

// One item of multicast_addresses ("224.0.0.251:5353"): usable when it has
// four parts, the first 224 and the second 0; then b4, b5 are the last two.
bool multicast_item_usable(const char *item, uint8_t *b4, uint8_t *b5);
// The MAC of a multicast group, "01:00:5e:00:b4:b5".
std::string multicast_mac_text(uint8_t b4, uint8_t b5);
