// The threads of a process by name (as prctl(PR_SET_NAME) set it).
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

// The names of the threads of process pid (0: this process).
std::vector<std::string> thread_names(pid_t pid = 0);

// How many threads of this process carry the name; with prefix set, how
// many names begin with it.
int count_threads(const std::string &name, bool prefix = false);
