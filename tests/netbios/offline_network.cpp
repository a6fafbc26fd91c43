// A network with nothing on it, for tests that must not be able to send.
#include "tests/netbios/offline_network.h"

#include "platform/cp850.h"

namespace vindrel::net {
namespace {

class OfflineNetwork final : public Network {
public:
    std::vector<Interface> Interfaces() override { return {}; }
    std::vector<Ipv4> WinsServers() override { return {}; }
    std::unique_ptr<UdpSocket> OpenUdp() override { return nullptr; }
    std::unique_ptr<TcpStream> Connect(Ipv4, std::uint16_t, Deadline) override { return nullptr; }
    std::u16string ComputerName() override { return u"OFFLINE"; }
    std::shared_ptr<const CodePage> OemCodePage(std::string_view) override
    {
        // The built-in page lives for the whole run; nothing to own.
        return std::shared_ptr<const CodePage>(&Cp850(), [](const CodePage*) {});
    }
};

}  // namespace

std::unique_ptr<Network> MakeOfflineNetwork()
{
    return std::make_unique<OfflineNetwork>();
}

}  // namespace vindrel::net
