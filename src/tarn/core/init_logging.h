#pragma once

// Connects the log front-end to its back-ends and applies the logging
// settings of the command line and of tarn.conf. 0, or -1 when a step
// stopped it (later steps then stay undone).
int init_logging();

// A level digit string: the first digit for every module, then one digit per
// module in the order TARN, ISDN, MSP, SIP, GSM, TIMER, STATEMACHINE, ...
void set_loglevels(unsigned char *table, const char *digits);
