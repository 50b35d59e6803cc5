// System and users module: the request table of every system request code, the answer table
// that routes the core daemon's responses to the families' answer builders, and the module's
// one response callback. The handlers live beside this file, one family per file:
//   login.cpp   sign-in, mail-link sign-in, sign-off entry
//   users.cpp   accounts (user records: user_records.h)
#include <array>

#include "dispatchreq.h"
#include "ipc.h"
#include "login.h"
#include "system.h"
#include "users.h"

namespace {
constexpr std::array k_system_requests{
    WebReqEntry{"/1000", on_cgi_user_login},
    WebReqEntry{"/1014", on_cgi_user_logout},
    WebReqEntry{"/1018", on_cgi_user_login_from_mail},
    WebReqEntry{"/6070", on_get_user_list},
    WebReqEntry{"/6071", on_set_user_add},
    WebReqEntry{"/6072", on_set_user_modify},
    WebReqEntry{"/6073", on_set_user_delete},
    WebReqEntry{"/6074", on_get_oem_user_list},
    WebReqEntry{"/6075", on_set_poe_camera_password},
    WebReqEntry{"/6076", on_set_poe_camera_password_nowait},
    WebReqEntry{"/6077", on_set_user_notify},
};

// Response id, record size, answer builder.
constexpr IpcAnswer k_system_answers[] = {
    {8265, 4, on_set_poe_camera_password_cb},
    {8504, 4, on_user_login_from_mail_cb},
};
} // namespace

int on_system_ipc_callback(void *context, const uint32_t *header, const void *payload)
{
    return ipc_dispatch_answer(k_system_answers, ipc_table_size(k_system_answers), header, payload);
}

WEBCGI_MODULE(system, k_system_requests)
