// The one way answers are serialised: json-c's default text form (json_object_to_json_string),
// written after the JSON content-type header. A small owner releases the object on every path.
#pragma once
#include <json-c/json.h>
#include <memory>

struct JsonPut {
    void operator()(json_object *o) const { json_object_put(o); }
};
using JsonPtr = std::unique_ptr<json_object, JsonPut>;

// Serialised text of `object` (owned by the object).
const char *json_text(json_object *object);
// Writes `object` as the JSON answer of the process; returns cgi_writeback_webserver's result.
int json_answer(json_object *object);
// Parses a request text; null when the text is null, not JSON, or does not parse.
JsonPtr json_parse_request(const char *text);
// Parses a request text and returns it only when it is a JSON object.
JsonPtr json_parse_object(const char *text);
