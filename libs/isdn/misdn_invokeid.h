// Invoke ids of the facility operations the library starts: 1 to 32766,
// then 1 again.
#pragma once

int misdn_get_invokeid(void);
