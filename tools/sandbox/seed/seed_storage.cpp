// Seed of the storage settings: a fresh recorder has its sixteen disk groups, ids 0 to 15, not
// yet named and with no channels assigned; the storage pages rename them (through the daemon)
// and list their names beside the quotas. Network disks, quotas and the eSATA backup start
// unset, and the parameters ("raidmode", "group_mode", "esata_type") take their defaults.
#include "seed.h"
#include "storage/storage_records.h"

static void seed_disk_groups()
{
    const GroupRecord unnamed{};
    vkdb_copy(VKDB_MAIN, k_group_kind, &unnamed, (1ull << STORAGE_MAX_GROUPS) - 1); // ids 0-15
}
SANDBOX_SEED(seed_disk_groups);
