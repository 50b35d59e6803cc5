// The video and events module's response callback and the handlers of its families, for the
// request table in video.cpp.
#pragma once
#include <cstdint>

int on_video_ipc_callback(void *context, const uint32_t *header, const void *payload);

// Motion detection (motion.cpp).
int on_get_motion_info(const char *request);               // /6010
int on_get_motion_audible_schedule(const char *request);   // /6011
int on_set_motion_info(const char *request);               // /6012
int on_set_motion_schedule(const char *request);           // /6013
int on_get_motion_map(const char *request);                // /6098
int on_set_motion_copy_info(const char *request);          // /6112
int on_set_motion_schedule_info(const char *request);      // /6113
int on_set_motion_trigger_info(const char *request);       // /6114
int on_set_motion_event_actions(const char *request);      // /6117
int on_set_motion_email_info(const char *request);         // /6118
int on_set_motion_trigger_type(const char *request);       // /6119
int on_get_motion_email_schedule(const char *request);     // /6120
int on_set_motion_effective_schedule(const char *request); // /6152
int on_get_motion_effective_schedule(const char *request); // /6153
int on_get_motion_ptz_schedule(const char *request);       // /6158
int on_set_motion_ptz_schedule(const char *request);       // /6159
// The "dialog" of /6112: one channel's event-action set.
struct json_object;
int save_motion_dialog_data(json_object *dialog);
// Answer builder of 8206 (the camera's motion grid).
int on_get_motion_map_cb(int count, const void *payload);

// PTZ action entries of any event type (ptz_actions.cpp).
int on_set_ptz_action_add(const char *request);            // /6160
int on_get_ptz_action_list(const char *request);           // /6161
int on_set_ptz_action_delete(const char *request);         // /6162
int on_set_ptz_action_update(const char *request);         // /6163
int on_set_ptz_action_delete_list(const char *request);    // /6164
