// Seed of the accounts: a fresh sandbox starts with the administrator account in slot 0, name
// "admin", password "admin" (stored as its MD5 digest, as the browser sends it), type 0, every
// right and every channel allowed, both permission summaries -1. Whoever runs a sandbox beyond a
// test should change that password.
#include <cstddef>
#include <cstring>

#include "seed.h"
#include "system/user_records.h"
#include "web_utils.h"

static void seed_admin()
{
    UserRecord admin{};
    admin.id = 0;
    admin.enable = 1;
    copy_text(admin.name, "admin");
    copy_text(admin.password, "21232f297a57a5a743894a0e4a801fc3");
    admin.type = 0;

    char *channel_strings[] = {admin.localliveview, admin.localplayback, admin.remoteliveview,
                               admin.remoteplayback};
    for (char *channels : channel_strings)
        std::memset(channels, '1', USER_CHANNEL_STRING);
    admin.localMask = admin.localPlaybackMask = admin.remoteMask = admin.remotePlaybackMask =
        0xFFFFFFFFu;

    // The twenty rights lie side by side, local ones first.
    static_assert(offsetof(UserRecord, remoteShutdown) ==
                  offsetof(UserRecord, localLiveView) + 4 * (2 * USER_RIGHT_COUNT - 1));
    const int32_t allowed = 1;
    for (int i = 0; i < 2 * USER_RIGHT_COUNT; ++i)
        std::memcpy(reinterpret_cast<char *>(&admin) + offsetof(UserRecord, localLiveView) + 4 * i,
                    &allowed, sizeof allowed);

    admin.permission = -1;
    admin.remotePermission = -1;
    write_user(VKDB_MAIN, &admin);
}
SANDBOX_SEED(seed_admin);
