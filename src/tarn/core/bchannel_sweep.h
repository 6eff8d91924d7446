// The periodic sweep that gives ISDN B-channels back to the library when
// they stay in use without a call.
#pragma once

// One sweep over every B-channel of every ISDN stack. A channel in use that
// no call object holds is marked on the first sweep that finds it so and
// released ("CRITICAL: Clearing unassociated bchannel") on the next one; a
// channel found free or held by a call loses its mark, so only two sweeps
// in a row without a call release it. Takes global_lock itself: the caller
// must not hold it.
void check_bchannels();
