// Video and events module: request table, response callback and registration. Its handler
// families live beside this file: motion.cpp (motion detection and its event actions, with the
// event-action set of event_actions.cpp that the other event families reuse) and ptz_actions.cpp
// (the PTZ action entries of every event type).
#include <array>

#include "dispatchreq.h"
#include "ipc.h"
#include "motion_records.h"
#include "video.h"

namespace {
constexpr std::array<WebReqEntry, 21> k_video_requests{{
    {"/6010", on_get_motion_info},
    {"/6011", on_get_motion_audible_schedule},
    {"/6012", on_set_motion_info},
    {"/6013", on_set_motion_schedule},
    {"/6098", on_get_motion_map},
    {"/6112", on_set_motion_copy_info},
    {"/6113", on_set_motion_schedule_info},
    {"/6114", on_set_motion_trigger_info},
    {"/6117", on_set_motion_event_actions},
    {"/6118", on_set_motion_email_info},
    {"/6119", on_set_motion_trigger_type},
    {"/6120", on_get_motion_email_schedule},
    {"/6152", on_set_motion_effective_schedule},
    {"/6153", on_get_motion_effective_schedule},
    {"/6158", on_get_motion_ptz_schedule},
    {"/6159", on_set_motion_ptz_schedule},
    {"/6160", on_set_ptz_action_add},
    {"/6161", on_get_ptz_action_list},
    {"/6162", on_set_ptz_action_delete},
    {"/6163", on_set_ptz_action_update},
    {"/6164", on_set_ptz_action_delete_list},
}};

// The camera grid answer is read even when the daemon sends less than one record: the exchange
// pads it with zeros.
constexpr IpcAnswer k_video_answers[] = {
    {RSP_CAMERA_MOTION_MAP_GET, sizeof(CameraMotionMap), on_get_motion_map_cb},
};
} // namespace

int on_video_ipc_callback(void *, const uint32_t *header, const void *payload)
{
    return ipc_dispatch_answer(k_video_answers, ipc_table_size(k_video_answers), header, payload);
}

WEBCGI_MODULE(video, k_video_requests)
