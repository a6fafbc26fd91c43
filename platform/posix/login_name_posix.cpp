// The POSIX login-name binding: the effective user's name from the password
// database, so that it names whoever the program runs as, whatever the
// environment or the session says.
#include <errno.h>
#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/login_name.h"
#include "platform/utf8.h"

namespace vindrel {
namespace {

std::string EffectiveUserName()
{
    const uid_t uid = geteuid();
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> scratch(suggested > 0 ? static_cast<std::size_t>(suggested) : 1024);
    passwd entry{};
    passwd* found = nullptr;
    int rc;
    while ((rc = getpwuid_r(uid, &entry, scratch.data(), scratch.size(), &found)) == ERANGE &&
           scratch.size() < (1u << 20))
        scratch.resize(scratch.size() * 2);
    if (rc == 0 && found != nullptr && found->pw_name != nullptr && found->pw_name[0] != '\0')
        return found->pw_name;
    // No entry for this user id: the number still names the user.
    return std::to_string(uid);
}

}  // namespace

std::u16string GetLoginName()
{
    return Utf8ToUtf16(EffectiveUserName());
}

}  // namespace vindrel
