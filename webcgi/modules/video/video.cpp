// Video and events module: request table, response callback and registration. Its handler families
// live beside this file; this module has no handlers yet.
#include <array>

#include "dispatchreq.h"

namespace {
constexpr std::array<WebReqEntry, 0> k_video_requests{};
} // namespace

WEBCGI_MODULE(video, k_video_requests)
