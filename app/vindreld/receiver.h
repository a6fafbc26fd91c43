// The running service: the name service, the message sessions, the messages
// that come as datagrams and the registrations on one event loop, from the first claim to the last release.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/vindreld/datagram_port.h"
#include "app/vindreld/event_loop.h"
#include "app/vindreld/interface_watcher.h"
#include "app/vindreld/listen_sockets.h"
#include "app/vindreld/message_keeper.h"
#include "app/vindreld/name_service_port.h"
#include "app/vindreld/port_owners.h"
#include "app/vindreld/registrations.h"
#include "app/vindreld/served_interfaces.h"
#include "app/vindreld/session_server.h"
#include "netbios/server/name_server.h"
#include "platform/network.h"

namespace vindrel::daemon {

struct ReceiverSetup {
    std::vector<netbios::RawName> names;  // <03> names; the computer's first
    netbios::RawName workgroup{};         // whose group datagrams are received
    std::shared_ptr<const net::CodePage> code_page;
    std::vector<ServedInterface> interfaces;
    // The configuration's `interfaces`, to find them again when they change.
    std::vector<std::string> wanted_interfaces;
    net::Ipv4 wins = 0;
    std::string spool;
};

class Receiver final : public NameClaims {
public:
    Receiver(ReceiverSetup setup, const ListenSockets& sockets, int stop_fd);
    ~Receiver() override;

    // Runs until the stop descriptor (a signalfd) is readable; then releases
    // every name. False when the loop could not run.
    bool Run();

private:
    Standing Claim(const netbios::RawName& name) override;
    void Release(const netbios::RawName& name) override;
    void OnNameEvents();
    std::string Show(const netbios::RawName& name) const;
    bool Permanent(const netbios::RawName& name) const;
    void CheckPorts(Clock::time_point now);
    bool IsServed(std::uint32_t address) const;
    void FollowInterfaces(Clock::time_point now);

    ReceiverSetup setup_;
    EventLoop loop_;
    netbios::NameServer names_;
    MessageKeeper keeper_;
    std::unique_ptr<NameServicePort> port_;
    std::unique_ptr<SessionServer> sessions_;
    std::unique_ptr<DatagramPort> datagrams_;
    std::unique_ptr<Registrations> registrations_;
    std::unique_ptr<InterfaceWatcher> interface_watcher_;
    class StopWatcher;
    std::unique_ptr<StopWatcher> stop_;
    // Samba started beside us is said once, until the ports are ours alone again.
    std::vector<ServicePort> ports_;
    Clock::time_point next_port_check_;
    bool ports_shared_ = false;
    bool activated_;
};

}  // namespace vindrel::daemon
