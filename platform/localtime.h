// Local time as the device shows it. The zone is the POSIX TZ string on the
// first line of /tmp/TZ, which the time service rewrites at run time; the C
// library does not read that file by itself, so every local-time text of the
// agent is made here, with the file read afresh before each conversion.
#pragma once

#include <ctime>
#include <string>

// Fills out with the local time of when under the zone in /tmp/TZ (UTC when
// the file is missing or its first line empty). False when the time cannot
// be shown.
bool device_local_time(time_t when, struct tm* out);

// The text ctime gives for when in the device's zone: 24 characters and a
// line feed. Empty for a time that cannot be shown.
std::string device_ctime(time_t when);
