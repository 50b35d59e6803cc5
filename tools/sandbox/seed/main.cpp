// nvr-sandbox-step-db DIR: seeds the config databases of a new sandbox (see seed.h).
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "nvr_path.h"
#include "seed.h"

static std::vector<std::pair<const char *, SandboxSeed>> &seeds()
{
    static std::vector<std::pair<const char *, SandboxSeed>> list;
    return list;
}

void sandbox_register_seed(const char *name, SandboxSeed seed) { seeds().emplace_back(name, seed); }

int main(int argc, char **argv)
{
    if (!nvr_in_sandbox()) {
        std::fprintf(stderr, "nvr-sandbox-step-db: NVR_ROOT is not set\n");
        return 2;
    }
    for (auto &[name, seed] : seeds())
        seed();
    return 0;
}
