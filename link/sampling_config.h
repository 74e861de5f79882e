// Telling a station how often to sample, and to start.
#pragma once

#include "contracts/instance_block.h"
#include "link/instance_state.h"

// Sends the station one packet: a sample point configuration at the update rate (field
// 106 = rate x 100, field 107 = rate x 500) and the start command. `tagAddress` only
// names the tag in the log lines. A station that is not connected is only logged; one
// that cannot take the whole packet has its link failed.
void SetupSamplingConfig(InstancePrivate &state, int station, const char *tagAddress);
void SetupSamplingConfig(InstanceBlock *block, int station, const char *tagAddress);

// After a connection is installed: configures sampling again once for every armed channel
// gate of this instance that belongs to the station. Stops at the instance's stop signal.
void RestoreSamplingConfig(InstancePrivate &state, int station);
