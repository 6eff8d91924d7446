// The end of the process: the run flags that stop the daemon's own threads,
// and the final release of what start-up built.
#pragma once

struct call_object;
struct reg_object;
struct task_list;

// Clears run_sm_helper, run_pcm_server, run_status_server and
// run_msp_safeguard and gives the threads 100 ms to see it; run_pcm_client
// keeps its value.
void stop_threads();

// What the final clean-up asks of the parts that own the records. None of
// them is null after cleanup_set_hooks; an unfilled one logs once and does
// nothing (the record is still freed).
struct cleanup_hooks {
    // Resets a call object with the media queue lock taken (call reset).
    void (*reset_call)(call_object *co);
    // Resets a registration object (call reset).
    void (*reset_registration)(reg_object *ro);
    // Frees the state-machine task list and its tasks (call control).
    void (*free_task_list)(task_list *list);
};
// Takes the non-null members (null keeps what is there); a null record puts
// every member back to its unfilled state (tests).
void cleanup_set_hooks(const cleanup_hooks *hooks);

// Frees the call and registration objects (each reset first), the tone
// list, the task list, the RTP port pool, the dial plan, the configuration
// managers and the cause map's texts. Run once, after the threads stopped.
void cleanup_memory();
