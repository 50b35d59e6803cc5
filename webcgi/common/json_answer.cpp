// The one serialisation of JSON answers (see json_answer.h).
#include "json_answer.h"

#include "web_utils.h"

const char *json_text(json_object *object) { return json_object_to_json_string(object); }

int json_answer(json_object *object) { return cgi_writeback_webserver(CGI_JSON, json_text(object)); }

JsonPtr json_parse_request(const char *text)
{
    if (text == nullptr)
        return nullptr;
    json_object *o = json_tokener_parse(text);
    return JsonPtr(o);
}

JsonPtr json_parse_object(const char *text)
{
    JsonPtr o = json_parse_request(text);
    if (!o || !json_object_is_type(o.get(), json_type_object))
        return nullptr;
    return o;
}
