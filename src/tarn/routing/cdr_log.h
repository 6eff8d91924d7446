// The CDR file <cdrpath>/tarn.cdr (one older generation, tarn.cdr.1) is
// opened, rotated and synced to the medium by one thread, "tarn.cdr": other
// threads only post requests, so no call-handling thread ever waits for a
// rotation or a sync. The writer of a record appends its line in one write
// under cdr_lock (cdr.h); only the sync is batched, for the flash's sake.
#pragma once

// Requests pending in application_object::cdr_log_do_flush. They form a set:
// a request posted while another is pending joins it, and the thread serves
// them in the order rotate, flush, end.
enum cdr_log_request {
    CDR_LOG_ROTATE = 1,
    CDR_LOG_FLUSH = 2,
    CDR_LOG_END = 4,
};

// Turns CDR logging on; when no file is open yet, requests the rotation
// that opens one. Each of the four creates the thread when there is none.
void cdr_log_start();
// Turns CDR logging off and requests the rotation that moves the file aside.
void cdr_log_stop();
void cdr_log_rotate();
void cdr_log_flush_file();

// The thread body (polls the request word every 200 ms).
void *run_cdr_log_flush_thread(void *);

// At the orderly stop: when the thread exists, waits up to 50 x 100 ms for
// the pending requests to be served, then ends the thread and joins it.
void cdr_log_end_thread();

// At the daemon's stop: turns CDR logging off, ends the thread as above and
// closes the file where it is, synced to the medium. The file stays
// tarn.cdr and the next start appends to it: a rotation at every stop would
// overwrite the one older generation, and with it an earlier run's records,
// at the second restart.
void cdr_log_close();

// 1 while the thread exists.
int cdr_log_thread_exists();
