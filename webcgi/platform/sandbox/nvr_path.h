// Sandbox root. On the recorder every path is absolute and nothing is set; on any other machine
// the programs run inside a directory named by NVR_ROOT, and every absolute recorder path goes
// through nvr_path(), which prefixes that root. NVR_TIME_SCALE (sandbox only) divides every fixed
// wait so that tests can run long timeouts in milliseconds.
//
// This is the one piece of code that `webcgi` and `update` share.
#pragma once
#include <string>
#include <string_view>

// "/mnt/nand/app/vkdb.db" -> "$NVR_ROOT/mnt/nand/app/vkdb.db" in a sandbox, unchanged otherwise.
std::string nvr_path(std::string_view recorder_path);

// The sandbox root ("" on the recorder).
const std::string &nvr_root();
bool nvr_in_sandbox();

// Divisor for fixed waits: NVR_TIME_SCALE in a sandbox (at least 1), 1 on the recorder.
long nvr_time_scale();

// Sleeps `ms` milliseconds divided by the time scale (`us` microseconds for nvr_sleep_us).
void nvr_sleep_ms(long ms);
void nvr_sleep_us(long long us);
