#pragma once
// Detaches into a daemon unless the parent already is process 1.
// Ends the parent with exit 0 and failures with 101-103.
void fork_daemon();
