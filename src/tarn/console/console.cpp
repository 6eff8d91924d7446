#include "console.h"

// The command table is not part of this build yet: every line is answered,
// none is run.
int mc_handle_input(const char *input, FILE *out, int state)
{
    fprintf(out, "unknown command: %s\r\n", input);
    fflush(out);
    return state;
}
