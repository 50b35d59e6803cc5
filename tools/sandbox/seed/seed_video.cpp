// Seed of the motion settings: a fresh recorder has one motion record per channel (0 to 63),
// detection off and every value zero, so that the pages that pick a channel among the stored
// records find all 64. Schedules, white-LED, HTTP-notification and PTZ actions start empty.
#include "seed.h"
#include "video/motion_records.h"

static void seed_motion()
{
    // One copy writes all 64 records, each with its own channel number, in one transaction.
    const MotionRecord record{};
    copy_motions(VKDB_MAIN, &record, ~uint64_t{0});
}
SANDBOX_SEED(seed_motion);
