// The threads of the test process by name (as prctl(PR_SET_NAME) set it).
#pragma once
#include <string>

// How many threads of this process carry the name; with prefix set, how
// many names begin with it.
int count_threads(const std::string &name, bool prefix = false);
