// vindreld: receives messenger messages for this computer's names and for
// the login names of the users whose vindrel-inbox runs here.
//   vindreld --foreground [--config FILE] [--spool DIR] [--user NAME]
//            [--runtime-dir DIR]
// Reads its configuration, takes or binds its sockets, gives up root, then
// runs one event loop until SIGTERM or SIGINT.
#include <malloc.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/vindreld/daemon_config.h"
#include "app/vindreld/event_log.h"
#include "app/vindreld/listen_sockets.h"
#include "app/vindreld/options.h"
#include "app/vindreld/port_owners.h"
#include "app/vindreld/privileges.h"
#include "app/vindreld/receiver.h"
#include "netbios/client/messenger_client.h"
#include "platform/utf8.h"
#include "receive/spool_dir.h"
#include "vindrel_version.h"

namespace {

using namespace vindrel::daemon;
namespace netbios = vindrel::netbios;

int Fail(int status, const std::string& line)
{
    Log().Write(LogKind::kService, line);
    return status;
}

// The computer name exactly as the sending side calls itself, so the
// computer has one identity. A configured name or extra name the code page
// cannot carry is an error here, not a guess: the service would answer for
// a name nobody typed.
bool OwnNames(const DaemonConfig& config, vindrel::net::Network& network,
              const vindrel::net::CodePage& code_page, std::vector<netbios::RawName>& names,
              std::string& error)
{
    const auto refuse = [&error](const std::string& text) {
        error = "'" + text +
                "' cannot be a NetBIOS name in this code page; set `netbios name` or "
                "`names` in the configuration";
        return false;
    };
    if (!config.netbios_name.empty() &&
        !netbios::MakeName(vindrel::Utf8ToUtf16(config.netbios_name), netbios::kMessengerSuffix,
                           code_page))
        return refuse(config.netbios_name);
    names.push_back(netbios::ComputerName(config.netbios_name, network, code_page,
                                          netbios::kMessengerSuffix));
    for (const std::string& extra : config.names) {
        const auto name =
            netbios::MakeName(vindrel::Utf8ToUtf16(extra), netbios::kMessengerSuffix, code_page);
        if (!name) return refuse(extra);
        if (std::find(names.begin(), names.end(), *name) == names.end()) names.push_back(*name);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    // One heap for the loop and the writer thread: an arena of its own would
    // cost the writer more resident memory than everything it keeps.
    mallopt(M_ARENA_MAX, 1);
    Options options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "vindreld: %s\n%s", error.c_str(), kHelpText);
        return kExitUsage;
    }
    if (options.action == Options::Action::kHelp) {
        std::fputs(kHelpText, stdout);
        return kExitOk;
    }
    if (options.action == Options::Action::kVersion) {
        std::printf("vindreld %s\n", VINDREL_VERSION_FULL);
        return kExitOk;
    }
    if (options.spool.empty()) options.spool = vindrel::spool::kDefaultSpool;

    const auto config = LoadDaemonConfig(options.config, options.config_given,
                                         netbios::kDefaultSambaConfig, error);
    if (!config) return Fail(kExitUsage, error + "; not starting");
    const auto network = vindrel::net::MakeSystemNetwork();
    ReceiverSetup setup;
    setup.code_page = network->OemCodePage(config->dos_charset);
    if (!OwnNames(*config, *network, *setup.code_page, setup.names, error))
        return Fail(kExitUsage, options.config + ": " + error + "; not starting");
    const auto workgroup = netbios::MakeName(vindrel::Utf8ToUtf16(config->workgroup),
                                             netbios::kMessengerSuffix, *setup.code_page);
    if (!workgroup)
        return Fail(kExitUsage, options.config + ": workgroup '" + config->workgroup +
                                    "' cannot be a NetBIOS name in this code page; not starting");
    setup.workgroup = *workgroup;
    setup.wins = config->wins.value_or(0);
    setup.spool = options.spool;

    Account account;
    if (!FindAccount(options.user, account, error)) return Fail(kExitUsage, error);

    // Stopping is an event of the loop like any other.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
    const int stop_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (stop_fd < 0) return Fail(kExitFailed, "cannot watch for signals");

    ListenSockets sockets;
    bool activated = false;
    ListenError listen = TakeActivatedSockets(sockets, activated, error);
    if (listen == ListenError::kNone)
        listen = BindMissingSockets(sockets, options.runtime_dir, account.uid, account.gid, error);
    if (listen == ListenError::kFailed) return Fail(kExitFailed, error);
    // Sockets shared through SO_REUSEADDR or systemd bind without an error:
    // the kernel's tables say whether anyone else holds the ports. Looked
    // at as root, which may see who.
    if (const auto holder = FindOtherHolder(ServicePorts(sockets)))
        error = Describe(*holder);
    else if (listen == ListenError::kPortsTaken)
        error += ": another process holds it";
    else
        error.clear();
    if (!error.empty())
        return Fail(kExitPortsTaken, error + "; vindreld does not start beside another server "
                                             "on the NetBIOS ports: " + kOneOwnerAdvice);

    if (!sockets.no_datagrams.empty())
        Log().Write(LogKind::kService, sockets.no_datagrams +
                                           ": systemd passed no datagram socket; messages sent "
                                           "as datagrams are not received until vindreld.socket "
                                           "is restarted");
    std::vector<std::string> unmatched;
    setup.interfaces = FindInterfaces(config->interfaces, unmatched);
    setup.wanted_interfaces = config->interfaces;
    for (const std::string& want : unmatched)
        Log().Write(LogKind::kService, options.config + ": interface '" + want +
                                           "' is not an IPv4 interface that is up; not served");
    if (setup.interfaces.empty())
        Log().Write(LogKind::kService, "no IPv4 interface to serve; names are not claimed on any LAN");

    if (!DropPrivileges(account, options.user, error)) return Fail(kExitFailed, error);
    if (access(setup.spool.c_str(), W_OK | X_OK) != 0)
        Log().Write(LogKind::kService, "the spool " + setup.spool + " is not writable by " +
                                           options.user + "; messages will be refused");

    std::string served;
    for (const ServedInterface& i : setup.interfaces) served += " " + i.name;
    Log().Write(LogKind::kService, std::string("started") + (sockets.activated ? " by systemd" : "") +
                                       " as " + options.user + "; interfaces:" +
                                       (served.empty() ? " none" : served) + "; spool " + setup.spool);
    Receiver receiver(std::move(setup), sockets, stop_fd);
    const bool ran = receiver.Run();
    if (!sockets.socket_path.empty()) unlink(sockets.socket_path.c_str());
    if (!ran) return Fail(kExitFailed, "the event loop failed");
    Log().Write(LogKind::kService, "stopped");
    return kExitOk;
}
