// The simulated operation log (see oplog.h): keeps the records of requests 3485 and 3509.
#include "oplog.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "coresim.h"

namespace {
std::deque<OplogEntry> &entries()
{
    static std::deque<OplogEntry> list;
    return list;
}

// A payload shorter than a record is kept zero-padded, as the daemon reads fixed records.
LogRecord record_of(const CoreRequest &request)
{
    LogRecord record{};
    std::memcpy(&record, request.payload.data(), std::min(sizeof record, request.payload.size()));
    return record;
}

void on_operation_log(CoreRequest &request) { coresim_oplog_add(record_of(request)); }

void on_operation_log_batch(CoreRequest &request)
{
    coresim_oplog_add(record_of(request), request.arg<uint64_t>(sizeof(LogRecord)), REQ_OPERATION_LOG_BATCH);
}
} // namespace

const std::deque<OplogEntry> &coresim_oplog() { return entries(); }

void coresim_oplog_add(const LogRecord &record, uint64_t channel_mask, int request_id)
{
    std::deque<OplogEntry> &list = entries();
    while (list.size() >= OPLOG_MAX_ENTRIES)
        list.pop_front();
    OplogEntry entry{record, channel_mask, request_id};
    if (entry.record.pts == 0)
        entry.record.pts = static_cast<int32_t>(std::time(nullptr));
    list.push_back(entry);
}

CORESIM_REQUEST(REQ_OPERATION_LOG, on_operation_log);
CORESIM_REQUEST(REQ_OPERATION_LOG_BATCH, on_operation_log_batch);
