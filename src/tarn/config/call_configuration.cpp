#include "call_configuration.h"

void call_configuration_init(call_configuration *cc)
{
    *cc = call_configuration{};
}
