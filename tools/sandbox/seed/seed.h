// Database seeds of a fresh sandbox: nvr-sandbox-step-db runs every seed registered with
// SANDBOX_SEED, in link order, with NVR_ROOT set to the new sandbox, so that each handler family
// puts in the records and parameters a new recorder starts with.
//
//   static void seed_admin() { ... write_user(VKDB_MAIN, &admin); }
//   SANDBOX_SEED(seed_admin);
#pragma once

typedef void (*SandboxSeed)();
void sandbox_register_seed(const char *name, SandboxSeed seed);

struct SandboxSeedRegistrar {
    SandboxSeedRegistrar(const char *name, SandboxSeed seed) { sandbox_register_seed(name, seed); }
};
#define SANDBOX_SEED(FN) static SandboxSeedRegistrar sandbox_seed_##FN(#FN, FN)
