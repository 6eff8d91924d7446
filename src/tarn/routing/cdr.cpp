#include "cdr.h"

void cdr_reset(cdr_data *cdr)
{
    *cdr = cdr_data{};
}
