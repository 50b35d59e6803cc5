// layout_dump: prints the layout of every packed record of the system (daemon payloads, database
// records, the log record, image headers, environment copies) and the bytes and values of a
// filled instance of each, so that the x86-64 and the 32-bit ARM builds can be compared line by
// line (tests/layout/CMakeLists.txt runs both and compares; layout_fields.h says how a row is
// turned into text).
//
//   layout_dump            the dump; exit 1 if a row does not tile its record
//   layout_dump --names    the record names, one a line
//
// A new record is one row below: the type, then every field in order. Its header must be
// self-contained (the dump includes headers only and links nothing of the system).
#include "layout_fields.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/event_records.h"
#include "common/web_utils.h"
#include "modules/storage/storage_records.h"
#include "modules/system/user_records.h"
#include "modules/video/event_actions.h"
#include "modules/video/motion_records.h"
#include "update/bootenv.h"
#include "update/image.h"

namespace {

const std::vector<layout::Record> &records()
{
    static const std::vector<layout::Record> table = {
        // webcgi/common/web_utils.h
        LAYOUT_RECORD(LogRecord, main_type, zero0, sub_type, zero1, pts, parameter, remote, channel, client_addr, user_name, zero2, size, detail, zero3),
        // webcgi/common/event_records.h
        LAYOUT_RECORD(SchedulePeriod, start_time, end_time, action_type),
        LAYOUT_RECORD(ScheduleDay, periods, whole_day_enable, whole_day_action_type),
        LAYOUT_RECORD(ScheduleRecord, days),
        LAYOUT_RECORD(StoredSchedule, id, schedule),
        LAYOUT_RECORD(PtzActionEntry, chn_id, acto_ptz_channel, zero, acto_ptz_type, acto_ptz_preset, acto_ptz_patrol, acto_ptz_pattern),
        LAYOUT_RECORD(PtzActionList, entries),
        LAYOUT_RECORD(StoredPtzList, channel, event_type, list),
        LAYOUT_RECORD(WhiteLedEntry, chn_id, chnid, mode, time),
        LAYOUT_RECORD(WhiteLedBlock, entries),
        LAYOUT_RECORD(WhiteLedTable, blocks),
        LAYOUT_RECORD(StoredWhiteLed, channel, count, block),
        LAYOUT_RECORD(WhiteLedKey, channel, table),
        LAYOUT_RECORD(HttpNotificationParams, channel, url, username, password, zero),
        LAYOUT_RECORD(EventAlarmOutRecord, channel, index, text, zero),
        LAYOUT_RECORD(AlarmAudioFileRecord, id, present, name),
        LAYOUT_RECORD(BatchLogRecord, record, mask),
        // webcgi/modules/storage/storage_records.h
        LAYOUT_RECORD(DaemonDiskRecord, port, vendor, address, directory, state, usable, reserved0, total_size, used_size, free_size, disk_type, group, property, reserved1, raid_level, raid_state, raid_progress, raid_member_count, raid_members, user_name, password, reserved2),
        LAYOUT_RECORD(DiskConfigRecord, port, enable, vendor, address, directory, disk_type, group, property, reserved0, user_name, password, reserved1),
        LAYOUT_RECORD(DiskSettingsPayload, port, property, group, zero),
        LAYOUT_RECORD(RaidPayload, id, enable, level, zero0, member_count, members, zero1),
        LAYOUT_RECORD(RaidRebuildPayload, disk_port, raid_port),
        LAYOUT_RECORD(FormatLogDetail, zero, port, result),
        LAYOUT_RECORD(DiskListPayload, count, ports),
        LAYOUT_RECORD(NetDiskLogDetail, protocol, address, directory),
        LAYOUT_RECORD(ShareSearchPayload, port, server),
        LAYOUT_RECORD(ShareListRecord, count, paths),
        LAYOUT_RECORD(RecycleModeRecord, mode, esata),
        LAYOUT_RECORD(SmartResultRecord, port, reserved, evaluation),
        LAYOUT_RECORD(QuotaEntry, channel, zero, video_quota, picture_quota, video_used, picture_used),
        LAYOUT_RECORD(QuotaPayload, enable, count, entries),
        LAYOUT_RECORD(GroupRecord, id, name, second, unused),
        LAYOUT_RECORD(EsataAutoBackupRecord, enable, zero0, backup_time, stream_type, file_type, recycle, channel, zero1, device, port),
        LAYOUT_RECORD(BackupProgressRecord, status, last_time, percent, capacity, reserved),
        LAYOUT_RECORD(ExportDiskRecord, port, reserved0, marker, reserved1),
        LAYOUT_RECORD(FormatInfoRecord, status, percent, port, zero, type),
        // webcgi/modules/system/user_records.h
        LAYOUT_RECORD(UserRecord, id, enable, name, password, pad0, type, reserved0, localliveview, localplayback, remoteliveview, remoteplayback, reserved1, localLiveView, localPlayback, localRetrieve, localSmartAnalysis, localEvent, localCamera, localStorage, localSettings, localStatus, localShutdown, remoteLiveView, remotePlayback, remoteRetrieve, remoteSmartAnalysis, remoteEvent, remoteCamera, remoteStorage, remoteSettings, remoteStatus, remoteShutdown, permission, remotePermission, localMask, localPlaybackMask, remoteMask, remotePlaybackMask),
        // webcgi/modules/video/motion_records.h
        LAYOUT_RECORD(MotionRecord, chnid, enable, sensitivity, tri_channel_mask, tri_alarms, motion_table, interval, enable_ms, tri_channels, pad0, email_enable, email_interval, tri_chn_alarms, pad1, reserved, ptz_interval, alarmout_interval, white_interval, email_pic_enable, tri_channels_pic, pad2, audio_id, http_notification_interval),
        LAYOUT_RECORD(CameraMotionMap, enable, map, sensitivity, channel, result, model_type, fishdisplay, fishtransfer, fishinstall),
        LAYOUT_RECORD(CameraMotionMapCopy, motion_table, sensitivity, source_channel, enable_ms, targets, target_count),
        LAYOUT_RECORD(CameraMotionSwitch, channel, enable, targets, target_count),
        LAYOUT_RECORD(CameraMotionPeriod, start_hour, start_minute, end_hour, end_minute),
        LAYOUT_RECORD(CameraMotionDay, zero, day, enable, periods),
        LAYOUT_RECORD(CameraMotionSchedule, channel, days, targets, target_count),
        // webcgi/modules/video/event_actions.h
        LAYOUT_RECORD(EventActionRecord, chnid, enable, tri_channel_mask, tri_channels, pad0, tri_alarms, interval, email_interval, tri_chn_alarms, pad1, ptz_interval, alarmout_interval, white_interval, email_pic_enable, tri_channels_pic, pad2, audio_id, http_notification_interval, reserved),
        // update/image.h
        LAYOUT_RECORD(upfw_part_record, offset, size, version, load_addr, flag, date, name, crc),
        LAYOUT_RECORD(upfw_image_header, part, build_time, release, reserved),
        // update/bootenv.h
        LAYOUT_RECORD(env_copy, crc, data, flag),
    };
    return table;
}

uint32_t seed_of(const char *name)
{
    uint32_t h = 2166136261u; // FNV-1a
    for (const char *p = name; *p; ++p)
        h = (h ^ static_cast<unsigned char>(*p)) * 16777619u;
    return h;
}

// The fields must follow each other without gap or overlap and end with the record.
bool tiles(const layout::Record &r)
{
    size_t expected = 0;
    for (const auto &f : r.fields) {
        if (f.offset != expected) {
            std::fprintf(stderr, "%s: field %s at offset %zu, expected %zu (a field missing from the row, "
                                 "out of order, or padding)\n", r.name, f.name, f.offset, expected);
            return false;
        }
        expected = f.offset + f.size;
    }
    if (expected != r.size) {
        std::fprintf(stderr, "%s: fields end at %zu but the record has %zu bytes\n", r.name, expected, r.size);
        return false;
    }
    return true;
}

void dump(const layout::Record &r)
{
    std::vector<unsigned char> encoded(r.size, 0), pattern(r.size);
    uint32_t seed = seed_of(r.name);
    for (const auto &f : r.fields)
        f.encode(encoded.data(), seed);
    for (size_t i = 0; i < r.size; ++i)
        pattern[i] = layout::pattern_byte(i);

    std::printf("record %s size %zu fields %zu\n", r.name, r.size, r.fields.size());
    std::string line;
    for (const auto &f : r.fields) {
        line.assign("  ");
        line.append(f.name).append(" @").append(std::to_string(f.offset));
        line.append(" +").append(std::to_string(f.size)).append(" ").append(f.type).append(" encoded ");
        layout::append_hex(line, encoded.data() + f.offset, f.size);
        line += " decoded ";
        f.decode(pattern.data(), line);
        std::puts(line.c_str());
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--names") == 0) {
        for (const auto &r : records())
            std::puts(r.name);
        return 0;
    }
    if (argc != 1) {
        std::fputs("usage: layout_dump [--names]\n", stderr);
        return 2;
    }
    bool all_tile = true;
    for (const auto &r : records()) {
        all_tile = tiles(r) && all_tile;
        dump(r);
    }
    std::printf("records %zu\n", records().size());
    return all_tile ? 0 : 1;
}
