// The Winsock network in the lab's sender namespace (fallback_test.py runs it
// there): the adapters as GetAdaptersInfo lists them, and sockets that wait
// exactly until their deadline, never past it, and end at once after it.
// The computer name too, read whole where the ANSI code page is UTF-8.
// VINDREL_LAB_INTERFACE names the namespace's one interface, "a.b.c.d/bits";
// VINDREL_LAB_RECEIVER a host there with nmbd and smbd, VINDREL_LAB_NOSMBD one
// with nmbd only, VINDREL_LAB_NOBODY an address nobody holds.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

#include "netbios/codec/name_service.h"
#include "netbios/codec/nb_name.h"
#include "netbios/codec/session_frame.h"
#include "platform/network.h"

namespace vindrel::net {
namespace {

using std::chrono::milliseconds;

// Slack for a loaded machine under Wine; a wait that ignores its deadline
// misses it by far more.
constexpr milliseconds kSlack{150};

Ipv4 Address(const char* variable, int* bits = nullptr)
{
    const char* text = std::getenv(variable);
    if (text == nullptr) {
        ADD_FAILURE() << variable << " is not set";
        return 0;
    }
    unsigned a = 0, b = 0, c = 0, d = 0;
    int n = 32;
    if (std::sscanf(text, "%u.%u.%u.%u/%d", &a, &b, &c, &d, &n) < 4) ADD_FAILURE() << text;
    if (bits) *bits = n;
    return (a << 24) | (b << 16) | (c << 8) | d;
}

milliseconds Since(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

TEST(WinsockNetwork, ListsTheAdapterWithItsBroadcastAddress)
{
    int bits = 0;
    const Ipv4 address = Address("VINDREL_LAB_INTERFACE", &bits);
    const Ipv4 mask = bits == 0 ? 0 : ~Ipv4{0} << (32 - bits);
    const auto interfaces = MakeSystemNetwork()->Interfaces();
    ASSERT_EQ(interfaces.size(), 1u) << "the lab's interface, loopback left out";
    EXPECT_EQ(interfaces[0].address, address);
    EXPECT_EQ(interfaces[0].netmask, mask);
    EXPECT_EQ(interfaces[0].broadcast, address | ~mask);
    EXPECT_FALSE(MakeSystemNetwork()->ComputerName().empty());
}

TEST(WinsockNetwork, AComputerNameWithAccentsComesWhole)
{
    // In a UTF-8 ANSI code page (fallback_test.py runs these tests so) this
    // name takes 19 bytes, more than the ANSI call allows.
    ASSERT_EQ(GetACP(), 65001u) << "run with LC_ALL=hi_IN.UTF-8 under Wine";
    const wchar_t* key = L"System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName";
    wchar_t was[64] = {};
    DWORD size = sizeof was;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, key, L"ComputerName", RRF_RT_REG_SZ, nullptr, was, &size), 0);
    // RegSetKeyValueW is Vista's; XP's headers have the open-set-close.
    const auto set = [&](std::wstring_view name) {
        HKEY opened = nullptr;
        LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, &opened);
        if (status != 0) return status;
        status = RegSetValueExW(opened, L"ComputerName", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(name.data()),
                                static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(opened);
        return status;
    };
    ASSERT_EQ(set(L"\u00c7\u00c9\u00c4\u00c5\u00c6\u00d6\u00dc\u00d1-PC"), 0);
    const std::u16string got = MakeSystemNetwork()->ComputerName();
    set(was);
    EXPECT_EQ(got, u"\u00c7\u00c9\u00c4\u00c5\u00c6\u00d6\u00dc\u00d1-PC");
}

TEST(WinsockNetwork, ReceiveWaitsUntilTheDeadlineAndNoLonger)
{
    const auto udp = MakeSystemNetwork()->OpenUdp();
    ASSERT_TRUE(udp);
    std::uint8_t buffer[600];
    const auto start = Clock::now();
    EXPECT_FALSE(udp->Receive(buffer, start + milliseconds(300)));
    EXPECT_GE(Since(start), milliseconds(300));
    EXPECT_LT(Since(start), milliseconds(300) + kSlack);
}

TEST(WinsockNetwork, APassedDeadlineEndsAReceiveEvenWithADatagramQueued)
{
    const Ipv4 receiver = Address("VINDREL_LAB_RECEIVER");
    const auto udp = MakeSystemNetwork()->OpenUdp();
    ASSERT_TRUE(udp);
    ASSERT_TRUE(udp->SendTo(netbios::BuildNodeStatusRequest(0x4242), receiver, netbios::kNameServicePort));
    std::this_thread::sleep_for(milliseconds(500));  // nmbd's answer is queued by now
    std::uint8_t buffer[600];
    EXPECT_FALSE(udp->Receive(buffer, Clock::now() - milliseconds(1)));
    const auto answer = udp->Receive(buffer, Clock::now() + milliseconds(1000));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->source, receiver);
    EXPECT_EQ(answer->port, netbios::kNameServicePort);
    EXPECT_GT(answer->size, 12u);

    std::uint8_t small[8];
    ASSERT_TRUE(udp->SendTo(netbios::BuildNodeStatusRequest(0x4343), receiver, netbios::kNameServicePort));
    const auto cut = udp->Receive(small, Clock::now() + milliseconds(1000));
    ASSERT_TRUE(cut) << "a datagram larger than the buffer is cut to it, not lost";
    EXPECT_EQ(cut->size, sizeof small);
}

TEST(WinsockNetwork, ConnectEndsAtTheDeadline)
{
    const auto network = MakeSystemNetwork();
    auto start = Clock::now();
    EXPECT_TRUE(network->Connect(Address("VINDREL_LAB_RECEIVER"), netbios::kSessionPort, start + milliseconds(2000)));

    start = Clock::now();
    EXPECT_FALSE(network->Connect(Address("VINDREL_LAB_NOBODY"), netbios::kSessionPort, start + milliseconds(400)));
    EXPECT_GE(Since(start), milliseconds(400));
    EXPECT_LT(Since(start), milliseconds(400) + kSlack);

    start = Clock::now();
    EXPECT_FALSE(network->Connect(Address("VINDREL_LAB_NOSMBD"), netbios::kSessionPort, start + milliseconds(3000)))
        << "nothing listens there";
    EXPECT_FALSE(network->Connect(Address("VINDREL_LAB_RECEIVER"), netbios::kSessionPort, Clock::now()))
        << "a deadline that has passed";
}

TEST(WinsockNetwork, ReadSomeWaitsUntilTheDeadlineAndNoLonger)
{
    const auto tcp = MakeSystemNetwork()->Connect(Address("VINDREL_LAB_RECEIVER"), netbios::kSessionPort,
                                                  Clock::now() + milliseconds(2000));
    ASSERT_TRUE(tcp);
    std::uint8_t buffer[64];
    // smbd says nothing until it hears a session request.
    const auto start = Clock::now();
    EXPECT_EQ(tcp->ReadSome(buffer, start + milliseconds(300)), 0u);
    EXPECT_GE(Since(start), milliseconds(300));
    EXPECT_LT(Since(start), milliseconds(300) + kSlack);

    // A session request for a name the host does not have is answered at once.
    const auto nobody = netbios::MakeName(u"NOBODY", 0x20);
    ASSERT_TRUE(nobody);
    const netbios::Bytes request = netbios::BuildSessionRequest(*nobody, *nobody);
    EXPECT_TRUE(tcp->WriteAll(request, Clock::now() + milliseconds(1000)));
    EXPECT_EQ(tcp->ReadSome(buffer, Clock::now() - milliseconds(1)), 0u) << "a deadline that has passed";
    EXPECT_GT(tcp->ReadSome(buffer, Clock::now() + milliseconds(1000)), 0u) << "the session answer";
}

}  // namespace
}  // namespace vindrel::net
