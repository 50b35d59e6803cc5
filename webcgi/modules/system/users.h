// User management family of the system module: account list, add, change, delete, the OEM
// account list and the PoE-camera password requests (users.cpp). system.cpp lists the handlers
// in its request table and the builder in its answer table.
#pragma once

struct json_object;

int on_get_user_list(const char *request);                 // "/6070"
int on_set_user_add(const char *request);                  // "/6071"
int on_set_user_modify(const char *request);               // "/6072"
int on_set_user_delete(const char *request);               // "/6073"
int on_get_oem_user_list(const char *request);             // "/6074"
int on_set_poe_camera_password(const char *request);       // "/6075"
int on_set_poe_camera_password_nowait(const char *request); // "/6076"
int on_set_user_notify(const char *request);               // "/6077"
int on_set_poe_camera_password_cb(int count, const void *payload); // response 8265
// The request of a new account: "type" 0-3, "permission" and "remotePermission" -1 or 0 and more.
int check_user_info(json_object *body);
