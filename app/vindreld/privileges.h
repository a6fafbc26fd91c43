// Giving up privileges once the sockets are bound: the service then runs as
// its own account with no capabilities and no way to gain any.
#pragma once

#include <string>

namespace vindrel::daemon {

struct Account {
    unsigned uid = 0;
    unsigned gid = 0;
};

// Looks `user` up in the password database.
bool FindAccount(const std::string& user, Account& account, std::string& error);

// Becomes `account` (when running as root; otherwise it must already be
// that account, as under systemd's User=), drops every capability from the
// effective, permitted, inheritable, ambient and (where allowed) bounding
// sets, and sets no_new_privs. Checks the result.
bool DropPrivileges(const Account& account, const std::string& user, std::string& error);

}  // namespace vindrel::daemon
