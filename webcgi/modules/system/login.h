// Login family of the system module: sign-in, sign-in from an alarm e-mail link, sign-off entry
// (login.cpp). system.cpp lists the handlers in its request table and the builder in its answer
// table.
#pragma once
#include <string>

int on_cgi_user_login(const char *request);            // "/1000"
int on_cgi_user_logout(const char *request);           // "/1014"
int on_cgi_user_login_from_mail(const char *request);  // "/1018"
int on_user_login_from_mail_cb(int count, const void *payload); // response 8504

// A new session identifier: 32 decimal digits from the system's cryptographic random source;
// empty when no such source can be read.
std::string get_session_id();
