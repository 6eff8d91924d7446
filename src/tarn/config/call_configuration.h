// The per-call option record. Its options and their table come with the
// call-configuration code; until then the record is empty and every call
// shares the defaults.
#pragma once

struct call_configuration {
};

// Re-initialises a call's own record from the defaults.
void call_configuration_init(call_configuration *cc);
