// Call control plugs its services into the parts that call it through
// hooks: the console, the clean-up, the registrations, the SIP stacks,
// housekeeping and the dial plan's rewriting.
#pragma once

// At start, before the start-up steps run.
void callctl_connect_hooks();
// The start-up step "state-machine task runner"; 0 or -1.
int callctl_start_task_runner();
