// setgroups/setgid/setuid, then every capability set emptied, without libcap.
#include "app/vindreld/privileges.h"

#include <errno.h>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace vindrel::daemon {
namespace {

std::string Errno() { return std::strerror(errno); }

int LastCapability()
{
    int last = CAP_LAST_CAP;
    if (std::FILE* f = std::fopen("/proc/sys/kernel/cap_last_cap", "r")) {
        if (std::fscanf(f, "%d", &last) != 1) last = CAP_LAST_CAP;
        std::fclose(f);
    }
    return last;
}

bool ClearCapabilitySets()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    return syscall(SYS_capset, &header, data) == 0;
}

bool HoldsNoCapabilities()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (const auto& d : data)
        if (d.effective != 0 || d.permitted != 0 || d.inheritable != 0) return false;
    return true;
}

}  // namespace

bool FindAccount(const std::string& user, Account& account, std::string& error)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    const int rc = getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (rc != 0 || found == nullptr) {
        error = "no account named '" + user + "'" +
                (rc != 0 ? std::string(": ") + std::strerror(rc) : std::string());
        return false;
    }
    account.uid = found->pw_uid;
    account.gid = found->pw_gid;
    return true;
}

bool DropPrivileges(const Account& account, const std::string& user, std::string& error)
{
    if (account.uid == 0) {
        error = "will not run as root: --user names root";
        return false;
    }
    if (geteuid() == 0) {
        // The bounding set first, while CAP_SETPCAP is still held; a
        // container may forbid it, and the emptied sets below still hold.
        for (int cap = 0; cap <= LastCapability(); ++cap) prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
        const gid_t gid = account.gid;
        if (setgroups(1, &gid) != 0 || setresgid(gid, gid, gid) != 0 ||
            setresuid(account.uid, account.uid, account.uid) != 0) {
            error = "cannot become '" + user + "': " + Errno();
            return false;
        }
    } else if (geteuid() != account.uid || getuid() != account.uid) {
        error = "cannot become '" + user + "' without starting as root (running as uid " +
                std::to_string(geteuid()) + ")";
        return false;
    }
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    // Under systemd there is nothing to clear, and its system call filter
    // refuses capset itself.
    if (!HoldsNoCapabilities() && !ClearCapabilitySets()) {
        error = "cannot drop capabilities: " + Errno();
        return false;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        error = "cannot set no_new_privs: " + Errno();
        return false;
    }
    if (!HoldsNoCapabilities() || setuid(0) == 0 || geteuid() != account.uid ||
        getegid() != account.gid) {
        error = "privileges still held after dropping them";
        return false;
    }
    return true;
}

}  // namespace vindrel::daemon
