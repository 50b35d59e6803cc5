// PTZ action entries of an event: what PTZ cameras do when an event of a given type fires on a
// channel (go to a preset, run a patrol or a pattern). Every request names the event type number
// ("type": 1 motion, 2 video loss, 0 alarm input, the smart-event, plate and counting numbers ...)
// and the event channel ("chn_id", 0 to 63, else the text error); type 20 selects the people-
// counting list. The entries live in the config database (event_records.h).
//
// Codes: /6160 add, /6161 list, /6162 delete, /6163 change, /6164 delete several (request table
// in video.cpp).
#include <cstring>

#include "ipc.h"
#include "json_answer.h"
#include "json_encodings.h"
#include "video.h"
#include "web_utils.h"

namespace {

// Event type and channel of a request; false (text error written) when either is missing or the
// channel is outside 0 to 63.
bool ptz_request_target(json_object *object, int *event_type, int *channel)
{
    if (on_cgi_get_int_from_json(object, "type", event_type) != 0 ||
        on_cgi_get_int_from_json(object, "chn_id", channel) != 0 || !event_channel_valid(*channel)) {
        cgi_error_to_webserver(CGI_TEXT);
        return false;
    }
    return true;
}

int int_member(json_object *object, const char *key)
{
    int value = 0;
    on_cgi_get_int_from_json(object, key, &value);
    return value;
}

// The entry a request describes: the PTZ channel, the action type and the number that goes with it.
PtzActionEntry ptz_entry_of(json_object *object, int channel)
{
    PtzActionEntry entry{};
    entry.chn_id = channel;
    entry.acto_ptz_channel = int_member(object, "acto_ptz_channel");
    entry.acto_ptz_type = int_member(object, "acto_ptz_type");
    switch (entry.acto_ptz_type) {
    case 1: entry.acto_ptz_preset = int_member(object, "acto_ptz_preset"); break;
    case 2: entry.acto_ptz_patrol = int_member(object, "acto_ptz_patrol"); break;
    case 3: entry.acto_ptz_pattern = int_member(object, "acto_ptz_pattern"); break;
    default: break;
    }
    return entry;
}

int delete_entry(int event_type, int channel, int ptz_channel)
{
    return event_type == PTZ_EVENT_PEOPLE_COUNTING ? delete_peoplecnt_ptz_params(VKDB_MAIN, channel, ptz_channel)
                                                   : delete_ptz_params(VKDB_MAIN, event_type, channel, ptz_channel);
}

void answer_ok() { cgi_writeback_webserver(CGI_TEXT, "OK"); }

} // namespace

int on_set_ptz_action_add(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int event_type = 0, channel = -1;
    if (!object || !ptz_request_target(object.get(), &event_type, &channel))
        return 0;
    const PtzActionEntry entry = ptz_entry_of(object.get(), channel);
    if (event_type == PTZ_EVENT_PEOPLE_COUNTING)
        write_peoplecnt_ptz_params(VKDB_MAIN, &entry);
    else
        write_ptz_params(VKDB_MAIN, &entry, event_type);
    answer_ok();
    return 0;
}

int on_get_ptz_action_list(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int event_type = 0, channel = -1;
    if (!object || !ptz_request_target(object.get(), &event_type, &channel))
        return 0;
    JsonPtr answer(json_object_new_object());
    json_object_object_add(answer.get(), "ptzInfo", get_ptz_params_json_object(event_type, channel));
    json_answer(answer.get());
    return 0;
}

int on_set_ptz_action_delete(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int event_type = 0, channel = -1;
    if (!object || !ptz_request_target(object.get(), &event_type, &channel))
        return 0;
    int ptz_channel = -1;
    if (on_cgi_get_int_from_json(object.get(), "acto_ptz_channel", &ptz_channel) != 0 || ptz_channel < 0) {
        cgi_error_to_webserver(CGI_TEXT);
        return 0;
    }
    delete_entry(event_type, channel, ptz_channel);
    answer_ok();
    return 0;
}

int on_set_ptz_action_update(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int event_type = 0, channel = -1;
    if (!object || !ptz_request_target(object.get(), &event_type, &channel))
        return 0;
    const PtzActionEntry entry = ptz_entry_of(object.get(), channel);
    int old_ptz_channel = entry.acto_ptz_channel;
    on_cgi_get_int_from_json(object.get(), "old_chn_id", &old_ptz_channel);
    if (event_type == PTZ_EVENT_PEOPLE_COUNTING)
        update_peoplecnt_ptz_params(VKDB_MAIN, &entry, old_ptz_channel);
    else
        update_ptz_params(VKDB_MAIN, &entry, event_type, old_ptz_channel);
    answer_ok();
    return 0;
}

int on_set_ptz_action_delete_list(const char *request)
{
    JsonPtr object = json_parse_object(request);
    int event_type = 0, channel = -1;
    if (!object || !ptz_request_target(object.get(), &event_type, &channel))
        return 0;
    json_object *channels = json_member(object.get(), "ptzChannel");
    for (int i = 0; i < json_length(channels); ++i)
        if (json_object *ptz_channel = json_element(channels, i))
            delete_entry(event_type, channel, json_object_get_int(ptz_channel));
    answer_ok();
    return 0;
}
