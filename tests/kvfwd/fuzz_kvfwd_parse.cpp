// The rule parser over arbitrary command lines, split as the in-process
// command splits them; nothing is applied to a table.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kvfwd_rule.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    // The first byte picks the table, the rest is the command text.
    const char *table = size && (data[0] & 1) ? "nat" : "filter";
    std::string text(reinterpret_cast<const char *>(data) + (size ? 1 : 0), size ? size - 1 : 0);
    text = text.c_str(); // the runner hands over C strings
    std::vector<char *> argv{const_cast<char *>("iptables")};
    char *save = nullptr;
    for (char *w = strtok_r(text.data(), " ", &save); w && argv.size() < 254; w = strtok_r(nullptr, " ", &save))
        argv.push_back(w);
    argv.push_back(nullptr);
    kvfwd_rule rule;
    char err[128];
    kvfwd_parse((int)argv.size() - 1, argv.data(), table, &rule, err, sizeof err);
    return 0;
}
