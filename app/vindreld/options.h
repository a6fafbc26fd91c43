// vindreld's command line.
#pragma once

#include <string>
#include <vector>

#include "app/vindreld/daemon_config.h"

namespace vindrel::daemon {

// Exit statuses. The unit names the last two in RestartPreventExitStatus=:
// neither a bad configuration nor Samba holding the ports mends itself.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitPortsTaken = 4;

inline constexpr char kDefaultUser[] = "vindrel";
inline constexpr char kDefaultRuntimeDir[] = "/run/vindrel";
inline constexpr char kSocketName[] = "vindreld.sock";

struct Options {
    enum class Action { kRun, kHelp, kVersion } action = Action::kRun;
    bool foreground = false;
    std::string config = kDefaultConfig;
    bool config_given = false;
    std::string spool;  // empty: the build's spool
    std::string user = kDefaultUser;
    std::string runtime_dir = kDefaultRuntimeDir;
};

// Reads the arguments after the program name; on a mistake `error` says what.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

extern const char kHelpText[];

}  // namespace vindrel::daemon
