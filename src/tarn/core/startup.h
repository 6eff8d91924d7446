// Process start-up in its fixed order, and the orderly stop.
#pragma once

// One step of init_application. A step returns 0 when it worked; a step
// that is not part of this build has no function and is passed over.
struct init_step {
    const char *name;
    int (*step)();
    const char *stderr_text; // written to standard error on failure, or null
    const char *reason;      // logged at debug level 0 on failure, or null
    int exit_code;           // 89 ends with "TARN initialization failed!"
    const char *exit_text;   // own exit text for the media processor steps
};

extern const init_step init_application_steps[];
extern const int init_application_step_count;

// Runs the steps in order; a failing step ends the process.
void init_application();

// The -A probe: the media processor's MAC and link, its library and the
// device-type query answered; exits 0 (1, 95 or 94 on the way).
[[noreturn]] void check_if_msp_is_alive();

// main's body.
int tarn_main(int argc, char **argv);

// The end of a run: CDR log, threads, modems, the safeguard switch.
int tarn_orderly_stop();
