// Motion family of the simulated core daemon: the cameras' motion grids. Each channel's camera
// keeps a motion-map record (enable, grid text, sensitivity); a channel not seen before starts
// from the config database's motion record of that channel (its grid cut to the camera's 299
// characters, its sensitivity, its camera-side switch), as a camera that the recorder configured
// at start-up would.
//
//   3206 get the grid of a channel        -> 8206 with the channel's record
//   3207 set the grid of a channel        (kept)
//   3251 set the grid of a list           (kept for the source and every target)
//   3212 camera-side motion switch        (kept as the record's enable)
// The notices 1403, 1410, 3209 and 3252 are accepted without an answer.
//
// coresim serves one message at a time on one thread, so the model needs no lock.
#include <cstring>
#include <map>

#include "coresim.h"
#include "video/motion_records.h"
#include "web_utils.h"

namespace {

std::map<int, CameraMotionMap> g_cameras;

CameraMotionMap &camera_of(int channel)
{
    auto found = g_cameras.find(channel);
    if (found != g_cameras.end())
        return found->second;
    CameraMotionMap camera{};
    camera.channel = channel;
    MotionRecord record{};
    if (read_motion(VKDB_MAIN, &record, channel) == 0) {
        copy_text(camera.map, field_text(record.motion_table));
        camera.sensitivity = record.sensitivity;
        camera.enable = record.enable_ms == 1 ? 1 : 0;
    }
    return g_cameras.emplace(channel, camera).first->second;
}

void on_get_motion_map(CoreRequest &req)
{
    const int channel = req.arg<int32_t>(0);
    if (!event_channel_valid(channel))
        return;
    req.reply_record(RSP_CAMERA_MOTION_MAP_GET, camera_of(channel));
}

void on_set_motion_map(CoreRequest &req)
{
    const CameraMotionMap update = req.arg<CameraMotionMap>(0);
    if (!event_channel_valid(update.channel))
        return;
    CameraMotionMap &camera = camera_of(update.channel);
    copy_text(camera.map, field_text(update.map));
    camera.sensitivity = update.sensitivity;
}

void on_copy_motion_map(CoreRequest &req)
{
    const CameraMotionMapCopy copy = req.arg<CameraMotionMapCopy>(0);
    auto apply = [&copy](int channel) {
        if (!event_channel_valid(channel))
            return;
        CameraMotionMap &camera = camera_of(channel);
        copy_text(camera.map, field_text(copy.motion_table));
        camera.sensitivity = copy.sensitivity;
    };
    apply(copy.source_channel);
    for (int i = 0; i < copy.target_count && i < EVENT_CHANNELS; ++i)
        apply(copy.targets[i]);
}

void on_motion_switch(CoreRequest &req)
{
    const CameraMotionSwitch update = req.arg<CameraMotionSwitch>(0);
    auto apply = [&update](int channel) {
        if (event_channel_valid(channel))
            camera_of(channel).enable = update.enable == 1 ? 1 : 0;
    };
    apply(update.channel);
    for (int i = 0; i < update.target_count && i < EVENT_CHANNELS; ++i)
        apply(update.targets[i]);
}

} // namespace

CORESIM_REQUEST(REQ_CAMERA_MOTION_MAP_GET, on_get_motion_map);
CORESIM_REQUEST(REQ_CAMERA_MOTION_MAP_SET, on_set_motion_map);
CORESIM_REQUEST(REQ_CAMERA_MOTION_MAP_COPY, on_copy_motion_map);
CORESIM_REQUEST(REQ_CAMERA_MOTION_SWITCH, on_motion_switch);
