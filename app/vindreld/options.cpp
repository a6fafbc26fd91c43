// vindreld's command line: a few long options, each with a value.
#include "app/vindreld/options.h"

namespace vindrel::daemon {

const char kHelpText[] =
    "Usage: vindreld --foreground [OPTIONS]\n"
    "Receives messenger messages for this computer and for the users whose\n"
    "vindrel-inbox runs here, and keeps them in the spool.\n"
    "\n"
    "  --foreground        run in the foreground, logging to standard error\n"
    "                      (as systemd runs it; there is no other mode)\n"
    "  --config FILE       configuration (default /etc/vindrel/vindreld.conf)\n"
    "  --spool DIR         where messages are kept (default " VINDREL_SPOOL_DIR ")\n"
    "  --user NAME         the account to run as once the ports are bound\n"
    "                      (default vindrel)\n"
    "  --runtime-dir DIR   where the registration socket is made when systemd\n"
    "                      does not pass it (default /run/vindrel)\n"
    "  --help, --version\n"
    "\n"
    "Under systemd, vindreld.socket passes it the sockets. Exit status: 0 stopped,\n"
    "1 failed, 2 bad command line or configuration, 4 the ports are taken\n"
    "(Samba's nmbd or smbd runs here: use vindrel-drop as Samba's message command).\n";

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help") {
            options.action = Options::Action::kHelp;
            return true;
        }
        if (arg == "--version") {
            options.action = Options::Action::kVersion;
            return true;
        }
        if (arg == "--foreground") {
            options.foreground = true;
            continue;
        }
        std::string* value = arg == "--config"        ? &options.config
                             : arg == "--spool"       ? &options.spool
                             : arg == "--user"        ? &options.user
                             : arg == "--runtime-dir" ? &options.runtime_dir
                                                      : nullptr;
        if (value == nullptr) {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = arg + " needs a value";
            return false;
        }
        *value = args[++i];
        if (value == &options.config) options.config_given = true;
    }
    if (!options.foreground) {
        // Nothing forks into the background here: systemd or the caller
        // supervises the process.
        error = "vindreld runs only in the foreground: give --foreground";
        return false;
    }
    return true;
}

}  // namespace vindrel::daemon
