// Recording schedules and holidays module: request table, response callback and registration. Its handler families
// live beside this file; this module has no handlers yet.
#include <array>

#include "dispatchreq.h"

namespace {
constexpr std::array<WebReqEntry, 0> k_record_requests{};
} // namespace

WEBCGI_MODULE(record, k_record_requests)
