// The operation log of the simulated core daemon: every operation log record that webcgi sends
// (request 3485, 672 bytes, and its batch form 3509, the record followed by a 64-bit channel
// mask) is kept in arrival order, so that a later log search or export of another family finds
// what the pages did (logins, settings changes ...). Records that arrive without a time get the
// time of arrival, as the recorder stamps its entries.
//
// coresim serves one message at a time on one thread, so the list needs no lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>

#include "web_utils.h"

struct OplogEntry {
    LogRecord record;
    uint64_t channel_mask; // 3509 only; 0 for a plain 3485 record
    int request_id;        // 3485 or 3509
};

// The entries kept so far, oldest first.
const std::deque<OplogEntry> &coresim_oplog();
// Adds an entry (also for families that log what the daemon itself does).
void coresim_oplog_add(const LogRecord &record, uint64_t channel_mask = 0, int request_id = REQ_OPERATION_LOG);

constexpr int REQ_OPERATION_LOG_BATCH = 3509;
constexpr size_t OPLOG_MAX_ENTRIES = 20000; // the oldest go first beyond this
