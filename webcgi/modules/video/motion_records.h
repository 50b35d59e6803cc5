// Records of the motion family: the 700-byte motion record of the config database (one per
// channel), its schedules, and the payloads exchanged with the core daemon about a channel's
// motion settings and the camera's motion grid. Shared records (schedules, PTZ, white-LED, HTTP)
// are in common/event_records.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "event_records.h"

// ---- config database ------------------------------------------------------------------------------

#pragma pack(push, 1)
struct MotionRecord {
    int32_t chnid;
    int32_t enable;             // 0 off, 1 on (2 accepted)
    int32_t sensitivity;
    uint32_t tri_channel_mask;  // bits 0-31 of triChannels
    int32_t tri_alarms;         // recorder alarm outputs
    char motion_table[368];
    int32_t interval;
    int32_t enable_ms;          // camera-side motion switch
    char tri_channels[65];
    char pad0[3];
    int32_t email_enable;
    int32_t email_interval;
    char tri_chn_alarms[2][65]; // camera alarm outputs 1 and 2
    char pad1[2];
    int32_t reserved;           // belongs to the core daemon
    int32_t ptz_interval;
    int32_t alarmout_interval;
    int32_t white_interval;
    int32_t email_pic_enable;
    char tri_channels_pic[65];
    char pad2[3];
    int32_t audio_id;
    int32_t http_notification_interval;
};
#pragma pack(pop)
static_assert(sizeof(MotionRecord) == 700);
static_assert(offsetof(MotionRecord, enable) == 4);
static_assert(offsetof(MotionRecord, sensitivity) == 8);
static_assert(offsetof(MotionRecord, tri_channel_mask) == 12);
static_assert(offsetof(MotionRecord, tri_alarms) == 16);
static_assert(offsetof(MotionRecord, motion_table) == 20);
static_assert(offsetof(MotionRecord, interval) == 388);
static_assert(offsetof(MotionRecord, enable_ms) == 392);
static_assert(offsetof(MotionRecord, tri_channels) == 396);
static_assert(offsetof(MotionRecord, email_enable) == 464);
static_assert(offsetof(MotionRecord, email_interval) == 468);
static_assert(offsetof(MotionRecord, tri_chn_alarms) == 472);
static_assert(offsetof(MotionRecord, tri_chn_alarms) + 65 == 537);
static_assert(offsetof(MotionRecord, reserved) == 604);
static_assert(offsetof(MotionRecord, ptz_interval) == 608);
static_assert(offsetof(MotionRecord, alarmout_interval) == 612);
static_assert(offsetof(MotionRecord, white_interval) == 616);
static_assert(offsetof(MotionRecord, email_pic_enable) == 620);
static_assert(offsetof(MotionRecord, tri_channels_pic) == 624);
static_assert(offsetof(MotionRecord, audio_id) == 692);
static_assert(offsetof(MotionRecord, http_notification_interval) == 696);

inline constexpr VkdbKind k_kind_motion{"motion", sizeof(MotionRecord), offsetof(MotionRecord, chnid)};
VKDB_RECORD_FUNCTIONS(motion, MotionRecord, k_kind_motion, EVENT_CHANNELS)
inline int copy_motions(const char *db, const MotionRecord *record, uint64_t mask)
{
    return vkdb_copy(db, k_kind_motion, record, mask);
}

// Schedule kinds of a motion channel (the white-LED and HTTP-notification schedules are the
// shared kinds of event_records.h under the motion tables below).
constexpr const char *SCHEDULE_KIND_MOTION = "motion_schedule";
constexpr const char *SCHEDULE_KIND_MOTION_EFFECTIVE = "motion_effective_schedule";
constexpr const char *SCHEDULE_KIND_MOTION_AUDIBLE = "motion_audible_schedule";
constexpr const char *SCHEDULE_KIND_MOTION_EMAIL = "motion_email_schedule";
constexpr const char *SCHEDULE_KIND_MOTION_PTZ = "motion_ptz_schedule";

constexpr const char *MOTION_WHITELED_SCHEDULE_TABLE = "motion_whiteled_esche";
constexpr const char *MOTION_WHITELED_PARAMS_TABLE = "motion_white_led_params";
constexpr const char *MOTION_HTTP_SCHEDULE_TABLE = "motion_http_notification_sche";
constexpr const char *MOTION_HTTP_PARAMS_TABLE = "motion_http_notification_params";

EVENT_SCHEDULE_FUNCTIONS(motion, SCHEDULE_KIND_MOTION)
EVENT_SCHEDULE_FUNCTIONS(motion_effective, SCHEDULE_KIND_MOTION_EFFECTIVE)
EVENT_SCHEDULE_FUNCTIONS(motion_audible, SCHEDULE_KIND_MOTION_AUDIBLE)
EVENT_SCHEDULE_FUNCTIONS(motion_email, SCHEDULE_KIND_MOTION_EMAIL)
EVENT_SCHEDULE_FUNCTIONS(motion_ptz, SCHEDULE_KIND_MOTION_PTZ)

// ---- core daemon ------------------------------------------------------------------------------------

constexpr int REQ_MOTION_CHANGED = 1403;        // int32 channel, no answer
constexpr int REQ_MOTION_COPIED = 1410;         // uint64 copy mask, no answer
constexpr int REQ_CAMERA_MOTION_MAP_GET = 3206; // int32 channel, answered by 8206
constexpr int RSP_CAMERA_MOTION_MAP_GET = 8206;
constexpr int REQ_CAMERA_MOTION_MAP_SET = 3207;   // CameraMotionMap, no answer
constexpr int REQ_CAMERA_MOTION_SCHEDULE = 3209;  // CameraMotionSchedule of one channel
constexpr int REQ_CAMERA_MOTION_SWITCH = 3212;    // CameraMotionSwitch
constexpr int REQ_CAMERA_MOTION_MAP_COPY = 3251;  // CameraMotionMapCopy
constexpr int REQ_CAMERA_MOTION_SCHEDULE_COPY = 3252; // CameraMotionSchedule for a list

constexpr int MOTION_LOG_SUB_TYPE = 204;
constexpr int MOTION_LOG_PARAMETER = 909;

#pragma pack(push, 1)
// Answer of 3206, payload of 3207.
struct CameraMotionMap {
    int32_t enable;
    char map[300];
    int32_t sensitivity;
    int32_t channel;
    int32_t result;
    int32_t model_type;
    int32_t fishdisplay;
    int32_t fishtransfer;
    int32_t fishinstall;
};

struct CameraMotionMapCopy {
    char motion_table[300];
    int32_t sensitivity;
    int32_t source_channel;
    int32_t enable_ms;
    int32_t targets[EVENT_CHANNELS]; // ascending, remaining slots zero
    int32_t target_count;
};

struct CameraMotionSwitch {
    int32_t channel;
    int32_t enable; // 1 when enableMS is 1
    int32_t targets[EVENT_CHANNELS];
    int32_t target_count;
};

struct CameraMotionPeriod {
    int32_t start_hour;
    int32_t start_minute;
    int32_t end_hour;
    int32_t end_minute;
};

struct CameraMotionDay {
    char zero[64];
    int32_t day;
    int32_t enable;
    CameraMotionPeriod periods[4];
};

struct CameraMotionSchedule {
    int32_t channel; // 0 in the list form
    CameraMotionDay days[7];
    int32_t targets[EVENT_CHANNELS]; // list form only
    int32_t target_count;
};
#pragma pack(pop)

static_assert(sizeof(CameraMotionMap) == 332);
static_assert(offsetof(CameraMotionMap, map) == 4);
static_assert(offsetof(CameraMotionMap, sensitivity) == 304);
static_assert(offsetof(CameraMotionMap, channel) == 308);
static_assert(offsetof(CameraMotionMap, result) == 312);
static_assert(offsetof(CameraMotionMap, model_type) == 316);
static_assert(offsetof(CameraMotionMap, fishdisplay) == 320);
static_assert(offsetof(CameraMotionMap, fishtransfer) == 324);
static_assert(offsetof(CameraMotionMap, fishinstall) == 328);

static_assert(sizeof(CameraMotionMapCopy) == 572);
static_assert(offsetof(CameraMotionMapCopy, sensitivity) == 300);
static_assert(offsetof(CameraMotionMapCopy, source_channel) == 304);
static_assert(offsetof(CameraMotionMapCopy, enable_ms) == 308);
static_assert(offsetof(CameraMotionMapCopy, targets) == 312);
static_assert(offsetof(CameraMotionMapCopy, target_count) == 568);

static_assert(sizeof(CameraMotionSwitch) == 268);
static_assert(offsetof(CameraMotionSwitch, enable) == 4);
static_assert(offsetof(CameraMotionSwitch, targets) == 8);
static_assert(offsetof(CameraMotionSwitch, target_count) == 264);

static_assert(sizeof(CameraMotionDay) == 136);
static_assert(offsetof(CameraMotionDay, day) == 64);
static_assert(offsetof(CameraMotionDay, enable) == 68);
static_assert(offsetof(CameraMotionDay, periods) == 72);
static_assert(sizeof(CameraMotionSchedule) == 1216);
static_assert(offsetof(CameraMotionSchedule, days) == 4);
static_assert(offsetof(CameraMotionSchedule, targets) == 956);
static_assert(offsetof(CameraMotionSchedule, target_count) == 1212);
