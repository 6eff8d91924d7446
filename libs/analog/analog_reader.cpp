// One read thread per analog port: event lines from the control device
// become event codes for the line callback.
#include "analog_internal.h"
#include "lineif_lines.h"
#include "log.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

std::atomic<bool> analog_stopping{false};

namespace {

// Pause after a failed or empty read (the driver closed the device), so that
// the thread neither spins nor gives the port up for good.
const useconds_t READ_RETRY_US = 200 * 1000;
// Longest wait for the device before the thread looks for a stop again.
const int POLL_MS = 100;

// Which rows have a read thread to wait for.
std::atomic<bool> reader_started[ANALOG_PORT_TABLE];

void deliver(analog_ctlport *row, const char *line)
{
    analog_event_callback cb = analog_callback.load();
    if (!cb)
        return;
    int event = analog_str_to_event(line);
    row->aport_fxs_offhook = event == ANALOG_EVENT_OFFHOOK ? 1 : 0;
    cb(row->port, (unsigned int)event);
}

void deliver_line(const char *line, void *row)
{
    deliver(static_cast<analog_ctlport *>(row), line);
}

void *analog_read_thread(void *arg)
{
    analog_ctlport *row = static_cast<analog_ctlport *>(arg);
    char name[16];
    snprintf(name, sizeof name, "tarn.analog%i", row->port);
    prctl(PR_SET_NAME, name, 0, 0, 0);
    sem_post(&analog_ready[row->port]);
    analog_debug("port=(%d): Readthread running\n", row->port);

    char buf[ANALOG_LINE_SIZE]; // this thread's own line buffer
    while (!analog_stopping.load()) {
        pollfd p = {row->fdr, POLLIN, 0};
        int r = poll(&p, 1, POLL_MS);
        if (r == 0 || (r < 0 && errno == EINTR))
            continue;
        ssize_t n = read(row->fdr, buf, sizeof buf - 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            usleep(READ_RETRY_US);
            continue;
        }
        analog_dispatch_read(row, buf, (int)n);
    }
    return nullptr;
}

} // namespace

int analog_dispatch_read(analog_ctlport *row, char *buf, int len)
{
    if (!row || !buf || len < 0)
        return 0;
    if (len > ANALOG_LINE_SIZE - 1)
        len = ANALOG_LINE_SIZE - 1;
    buf[len] = '\0';
    analog_debug("port=(%d): read-event: %s\n", row->port, buf);
    if (!analog_callback.load() || analog_stopping.load())
        return 0;

    // A read may carry more than one line: each is decoded on its own.
    return lineif_each_line(buf, deliver_line, row);
}

int analog_start_reader(analog_ctlport *row)
{
    if (pthread_create(&row->t, nullptr, analog_read_thread, row) != 0)
        return -1;
    reader_started[row->port] = true;
    return 0;
}

void analog_stop_reader(analog_ctlport *row)
{
    if (reader_started[row->port].exchange(false))
        tarn_join_thread(row->t, "tarn.analog");
}
