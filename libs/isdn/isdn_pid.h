// The process-wide call identifier counter: 1 for the first call, then 2, 3 ...
#pragma once

int get_new_global_pid();
