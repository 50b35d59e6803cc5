// Playback and live view module: request table, response callback and registration. Its handler families
// live beside this file; this module has no handlers yet.
#include <array>

#include "dispatchreq.h"

namespace {
constexpr std::array<WebReqEntry, 0> k_playback_requests{};
} // namespace

WEBCGI_MODULE(playback, k_playback_requests)
