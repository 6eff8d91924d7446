#include "thread_names.h"

#include <dirent.h>

#include <fstream>

std::vector<std::string> thread_names(pid_t pid)
{
    std::vector<std::string> names;
    std::string dir = pid ? "/proc/" + std::to_string(pid) + "/task" : std::string("/proc/self/task");
    DIR *d = opendir(dir.c_str());
    while (dirent *e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream f(dir + "/" + e->d_name + "/comm");
        std::string comm;
        if (std::getline(f, comm))
            names.push_back(comm);
    }
    if (d)
        closedir(d);
    return names;
}

int count_threads(const std::string &name, bool prefix)
{
    int n = 0;
    for (const std::string &comm : thread_names())
        if (prefix ? comm.rfind(name, 0) == 0 : comm == name)
            n++;
    return n;
}
