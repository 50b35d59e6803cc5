// Shared pieces of the video and events request tests: a fresh sandbox per test with direct
// access to its config database (vkdb with the sandbox's own paths; the test process has no
// NVR_ROOT), schedule texts in the request and answer forms, and the daemon payloads and log
// records the motion handlers are expected to send.
#pragma once
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "json_encodings.h"
#include "modules/video/motion_records.h"
#include "web_utils.h"
#include "webcgi_run.h"

// Cases that wait for an answer that never comes: 40 s pass in a few milliseconds.
constexpr long kFastTimeout = 20000;

template <typename T> std::string bytes_of(const T &record)
{
    return std::string(reinterpret_cast<const char *>(&record), sizeof(T));
}
inline std::string word_bytes(int32_t value) { return bytes_of(value); }

inline std::string answer_line(int request_id, const std::string &payload)
{
    return std::to_string(request_id) + " " + std::to_string(request_id + 5000) + " " +
           (payload.empty() ? std::string("-") : to_hex(payload)) + "\n";
}

// A schedule whose period p of day d is ("<tag>d:p", "<tag>d:p+", tag_number * 1000 + d * 100 + p):
// its request form, its answer form and the record the database must hold.
struct TaggedSchedule {
    std::string tag;
    int number;

    std::string start(int d, int p) const { return tag + std::to_string(d) + ":" + std::to_string(p); }
    std::string end(int d, int p) const { return start(d, p) + "+"; }
    int action(int d, int p) const { return number * 1000 + d * 100 + p; }

    std::string request() const
    {
        std::string days = "[";
        for (int d = 0; d < 8; ++d) {
            days += d ? ",[" : "[";
            for (int p = 0; p < 12; ++p)
                days += std::string(p ? "," : "") + "[\"" + start(d, p) + "\",\"" + end(d, p) + "\"," +
                        std::to_string(action(d, p)) + "]";
            days += "]";
        }
        return days + "]";
    }
    std::string answer() const
    {
        std::string days = "[ ";
        for (int d = 0; d < 8; ++d) {
            days += d ? ", [ " : "[ ";
            for (int p = 0; p < 12; ++p)
                days += std::string(p ? ", " : "") + "{ \"startTime\": \"" + start(d, p) + "\", \"endTime\": \"" +
                        end(d, p) + "\", \"actionType\": " + std::to_string(action(d, p)) + " }";
            days += " ]";
        }
        return days + " ]";
    }
    std::unique_ptr<ScheduleRecord> record() const
    {
        auto s = std::make_unique<ScheduleRecord>();
        std::memset(s.get(), 0, sizeof *s);
        for (int d = 0; d < 8; ++d)
            for (int p = 0; p < 12; ++p) {
                copy_text(s->days[d].periods[p].start_time, start(d, p));
                copy_text(s->days[d].periods[p].end_time, end(d, p));
                s->days[d].periods[p].action_type = action(d, p);
            }
        return s;
    }
};

// The answer form of an empty schedule.
inline std::string empty_schedule_answer()
{
    std::string days = "[ ";
    for (int d = 0; d < 8; ++d) {
        days += d ? ", [ " : "[ ";
        for (int p = 0; p < 12; ++p)
            days += std::string(p ? ", " : "") + "{ \"startTime\": \"\", \"endTime\": \"\", \"actionType\": 0 }";
        days += " ]";
    }
    return days + " ]";
}

// The operation log record a motion change sends: main type 4, sub type 204, parameter 909.
inline LogRecord motion_log(int channel_field, const std::string &address = "192.168.1.20")
{
    LogRecord record;
    std::memset(&record, 0, sizeof record);
    record.main_type = 4;
    record.sub_type = 204;
    record.parameter = 909;
    record.remote = 1;
    record.channel = channel_field;
    copy_text(record.client_addr, address);
    return record;
}

inline CameraMotionSwitch camera_switch(int channel, int enable, std::vector<int> targets = {})
{
    CameraMotionSwitch s{};
    s.channel = channel;
    s.enable = enable;
    for (size_t i = 0; i < targets.size(); ++i)
        s.targets[i] = targets[i];
    s.target_count = static_cast<int32_t>(targets.size());
    return s;
}

inline CameraMotionSchedule camera_week(int channel, std::vector<int> targets = {})
{
    CameraMotionSchedule s{};
    s.channel = channel;
    for (int d = 0; d < 7; ++d) {
        s.days[d].day = d;
        s.days[d].enable = 1;
        for (CameraMotionPeriod &p : s.days[d].periods)
            p = {0, 0, 24, 0};
    }
    for (size_t i = 0; i < targets.size(); ++i)
        s.targets[i] = targets[i];
    s.target_count = static_cast<int32_t>(targets.size());
    return s;
}

struct VideoTest : ::testing::Test {
    Sandbox box;

    std::string db() const { return box.path(VKDB_MAIN); }
    // Every run must end normally: a crash or a sanitizer report fails the case.
    CgiResult run(const CgiRequest &request)
    {
        CgiResult result = run_webcgi(box, request);
        EXPECT_EQ(result.status, 0) << request.code << " " << request.body << "\n" << result.err;
        return result;
    }
    CgiResult post(const std::string &code, const std::string &json, const std::string &replay = "",
                   long time_scale = kFastTimeout)
    {
        CgiRequest request = CgiRequest::post_json(code, json);
        request.replay = replay;
        request.time_scale = time_scale;
        return run(request);
    }
    CgiResult get(const std::string &code, const std::string &query)
    {
        CgiRequest request = CgiRequest::get(code, query);
        request.time_scale = kFastTimeout;
        return run(request);
    }

    MotionRecord motion(int channel) const
    {
        MotionRecord record{};
        read_motion(db().c_str(), &record, channel);
        return record;
    }
    bool has_motion(int channel) const
    {
        MotionRecord record{};
        return read_motion(db().c_str(), &record, channel) == 0;
    }
    void put_motion(const MotionRecord &record) const { ASSERT_EQ(write_motion(db().c_str(), &record), 0); }
    void drop_motion(int channel) const { vkdb_delete(db().c_str(), k_kind_motion, channel); }

    // The schedule of `kind` (and table) for `channel`, or null when none is stored.
    std::unique_ptr<ScheduleRecord> schedule(const char *kind, int channel, const char *table = "") const
    {
        auto s = std::make_unique<ScheduleRecord>();
        std::memset(s.get(), 0, sizeof *s);
        if (read_event_schedule(db().c_str(), kind, channel, s.get(), table) != 0)
            return nullptr;
        return s;
    }
    void put_schedule(const char *kind, int channel, const TaggedSchedule &tagged, const char *table = "") const
    {
        ASSERT_EQ(write_event_schedule(db().c_str(), kind, channel, tagged.record().get(), table), 0);
    }
    bool schedule_is(const char *kind, int channel, const TaggedSchedule &tagged, const char *table = "") const
    {
        auto s = schedule(kind, channel, table);
        return s && std::memcmp(s.get(), tagged.record().get(), sizeof(ScheduleRecord)) == 0;
    }
};

// A motion record with a distinct value in every field the pages use.
inline MotionRecord sample_motion(int channel)
{
    MotionRecord r{};
    r.chnid = channel;
    r.enable = 1;
    r.sensitivity = 4;
    copy_text(r.tri_channels, "1010");
    r.tri_channel_mask = 0x5;
    r.tri_alarms = 6;
    copy_text(r.motion_table, "grid-" + std::to_string(channel));
    r.interval = 7;
    r.enable_ms = 1;
    r.email_enable = 1;
    r.email_interval = 8;
    copy_text(r.tri_chn_alarms[0], "0110");
    copy_text(r.tri_chn_alarms[1], "1001");
    r.reserved = 77;
    r.ptz_interval = 9;
    r.alarmout_interval = 10;
    r.white_interval = 11;
    r.email_pic_enable = 1;
    copy_text(r.tri_channels_pic, "0001");
    r.audio_id = 2;
    r.http_notification_interval = 12;
    return r;
}
