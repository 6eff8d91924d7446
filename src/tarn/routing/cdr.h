// Call detail record data carried by every call object. The fields and the
// writer come with the CDR code.
#pragma once
#include <ctime>

struct cdr_data {
    time_t start;
    time_t stop;
};

void cdr_reset(cdr_data *cdr);
