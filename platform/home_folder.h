// The user's home folder: HOME when it is set, else the password database's
// entry for the effective user, so a program started without HOME (a
// service, a cron job) never falls back to a shared folder such as /tmp.
#pragma once
#include <string>

// "" when neither knows one.
std::string HomeFolder();
