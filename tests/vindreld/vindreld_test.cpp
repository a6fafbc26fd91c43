// vindreld without a network: the strict configuration reader, the
// registration socket's protocol and limits over a real Unix socket with
// the name service faked, the message keeper's writer, and the reading of
// the kernel's socket tables.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/vindreld/daemon_config.h"
#include "app/vindreld/message_keeper.h"
#include "app/vindreld/port_owners.h"
#include "app/vindreld/registrations.h"
#include "app/vindreld/source_budget.h"
#include "platform/cp850.h"
#include "platform/utf8.h"
#include "receive/spool_lock.h"

namespace vindrel::daemon {
namespace {

struct ConfigCase {
    const char* what;
    const char* text;
    const char* error;  // nullptr: accepted
};

TEST(DaemonConfig, StrictLineByLine)
{
    const ConfigCase cases[] = {
        {"every key", "# c\n[vindreld]\nnetbios name = DESK7\nnames = A B,C\n"
                      "dos charset = CP437\nWINS Server = 10.0.0.1\ninterfaces = eth0\n"
                      "workgroup = Office\n", nullptr},
        {"group of 16", "[vindreld]\nworkgroup = ABCDEFGHIJKLMNOP\n",
         "f:2: workgroup 'ABCDEFGHIJKLMNOP' is longer than 15 characters"},
        {"empty file", "", nullptr},
        {"before the section", "names = A\n", "f:1: a setting before the [vindreld] section"},
        {"other section", "[global]\n", "f:1: unknown section [global]; this file has only [vindreld]"},
        {"unknown key", "[vindreld]\n\nnetbios aliases = A\n", "f:3: unknown key 'netbios aliases'"},
        {"no equals", "[vindreld]\nnames\n", "f:2: expected 'key = value'"},
        {"twice", "[vindreld]\nnames = A\nnames = B\n", "f:3: 'names' set twice"},
        {"long name", "[vindreld]\nnetbios name = ABCDEFGHIJKLMNOP\n",
         "f:2: netbios name 'ABCDEFGHIJKLMNOP' is longer than 15 characters"},
        {"wildcard name", "[vindreld]\nnames = A *\n", "f:2: name '*' holds '*' or '.'"},
        {"wins by host name", "[vindreld]\nwins server = wins.lan\n",
         "f:2: wins server 'wins.lan' is not an IPv4 address"},
        {"unknown charset", "[vindreld]\ndos charset = CP9999X\n",
         "f:2: dos charset 'CP9999X' is not a character set this system knows"},
        {"open section", "[vindreld\n", "f:1: a section header must end in ']'"},
    };
    for (const ConfigCase& c : cases) {
        std::string error;
        const auto config = ParseDaemonConfig(c.text, "f", error);
        if (c.error == nullptr) {
            EXPECT_TRUE(config) << c.what << ": " << error;
        } else {
            EXPECT_FALSE(config) << c.what;
            EXPECT_EQ(error.substr(0, std::string(c.error).size()), c.error) << c.what;
        }
    }
    std::string error;
    const auto all = ParseDaemonConfig(cases[0].text, "f", error);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->names, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(all->wins, 0x0A000001u);
}

TEST(DaemonConfig, AbsentKeysComeFromSamba)
{
    char dir[] = "/tmp/vindreld-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string ours = std::string(dir) + "/vindreld.conf", samba = std::string(dir) + "/smb.conf";
    const auto write = [](const std::string& path, const char* text) {
        FILE* f = std::fopen(path.c_str(), "w");
        std::fputs(text, f);
        std::fclose(f);
    };
    write(samba, "[global]\nnetbios name = FROMSAMBA\nworkgroup = VLAB\n"
                 "wins server = 10.1.1.1 10.3.3.3\ndos charset = CP437\n");
    write(ours, "[vindreld]\nwins server = 10.2.2.2\n");
    std::string error;
    auto config = LoadDaemonConfig(ours, true, samba, error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->netbios_name, "FROMSAMBA");
    EXPECT_EQ(config->wins, 0x0A020202u);
    EXPECT_EQ(config->dos_charset, "CP437");
    EXPECT_EQ(config->workgroup, "VLAB");
    // Given and missing is an error; the default path missing is not, and
    // then Samba's primary WINS server is the one names are registered with.
    EXPECT_FALSE(LoadDaemonConfig(std::string(dir) + "/none", true, samba, error));
    config = LoadDaemonConfig(std::string(dir) + "/none", false, samba, error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->wins, 0x0A010101u);
    write(samba, "[global]\n");
    config = LoadDaemonConfig(ours, true, samba, error);
    ASSERT_TRUE(config) << error;
    EXPECT_EQ(config->workgroup, "WORKGROUP");
    std::filesystem::remove_all(dir);
}

TEST(SourceBudget, ANoisySourceSpendsItsOwnShareAndLeavesTheOthersTheirs)
{
    const Clock::time_point t0 = Clock::time_point{} + std::chrono::hours(1);
    SourceBudget budget({10, 1}, {50, 10}, 4);
    int kept = 0;
    for (int i = 0; i < 5000; ++i) kept += budget.Pay(1, t0);
    EXPECT_EQ(kept, 10);
    EXPECT_TRUE(budget.Pay(2, t0));
    EXPECT_TRUE(budget.Pay(1, t0 + std::chrono::seconds(1)));
    EXPECT_FALSE(budget.Pay(1, t0 + std::chrono::seconds(1)));

    // Forged addresses, each new: the shared bucket holds, whatever the
    // table of sources forgets.
    SourceBudget fresh({10, 1}, {50, 10}, 4);
    kept = 0;
    for (std::uint32_t source = 100; source < 1100; ++source) kept += fresh.Pay(source, t0);
    EXPECT_EQ(kept, 50);
}

// The name service faked: every claim succeeds at once; claims of names not
// held (what puts packets on the LAN) and releases counted.
class FakeClaims : public NameClaims {
public:
    Standing Claim(const netbios::RawName& name) override
    {
        claims += held.insert(name).second;
        return Standing::kClaimed;
    }
    void Release(const netbios::RawName& name) override
    {
        held.erase(name);
        ++releases;
    }
    std::set<netbios::RawName> held;
    int claims = 0, releases = 0;
};

constexpr auto kGrace = std::chrono::milliseconds(300);

class RegistrationSocket : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Registers names of other users, which only root may; in CI a
        // skip would hide that nothing was tested.
        if (geteuid() != 0) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") FAIL() << "needs root";
            GTEST_SKIP() << "needs root";
        }
        path_ = "/tmp/vindreld-test-" + std::to_string(getpid()) + ".sock";
        listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path_.c_str());
        unlink(path_.c_str());
        ASSERT_EQ(bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        ASSERT_EQ(listen(listen_, 64), 0);
        registrations_ = std::make_unique<Registrations>(
            loop_, listen_, claims_,
            [](const std::string& login) {
                return netbios::MakeName(Utf8ToUtf16(login), netbios::kMessengerSuffix);
            },
            [](const netbios::RawName& name) { return netbios::NameText(name); }, kGrace);
    }
    void TearDown() override
    {
        if (listen_ < 0) return;
        for (int fd : clients_) close(fd);
        registrations_.reset();
        close(listen_);
        unlink(path_.c_str());
    }

    int Connect(const std::string& send)
    {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path_.c_str());
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        EXPECT_EQ(write(fd, send.data(), send.size()), static_cast<ssize_t>(send.size()));
        clients_.push_back(fd);
        Turn();
        return fd;
    }

    // Runs the loop until it has nothing more to do.
    void Turn()
    {
        for (int i = 0; i < 5; ++i) loop_.RunOnce(Clock::now() + std::chrono::milliseconds(20));
    }
    void RunFor(Clock::duration time)
    {
        for (const auto until = Clock::now() + time; Clock::now() < until;) loop_.RunOnce(until);
    }

    // What the service answered on `fd` so far; "EOF" appended once it closed.
    static std::string Answers(int fd)
    {
        std::string out;
        char buffer[512];
        for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) != 0;) {
            if (n < 0) return out;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out + "EOF";
    }

    void Disconnect(int fd)
    {
        close(fd);
        clients_.erase(std::find(clients_.begin(), clients_.end(), fd));
        Turn();
    }

    std::string path_;
    int listen_ = -1;
    EventLoop loop_;
    FakeClaims claims_;
    std::unique_ptr<Registrations> registrations_;
    std::vector<int> clients_;
};

TEST_F(RegistrationSocket, AnswersAndRefusals)
{
    // Root (this test) may register any name; what a line may hold is the
    // same for everyone.
    const struct {
        std::string send, answer;
    } cases[] = {
        {"REGISTER alice\n", "CLAIMED ALICE\n"},
        {"REGISTER alice\nREGISTER bob\n",
         "CLAIMED ALICE\nREFUSED BOB this connection already registered a name\n"},
        {"REGISTER a*b\n", "REFUSED A*B not a valid NetBIOS name\n"},
        {"REGISTER waytoolongforanetbiosname\n", "REFUSED WAYTOOLONGFORAN not a valid NetBIOS name\n"},
        {"HELLO\n", "EOF"},
        {"REGISTER " + std::string(300, 'x'), "EOF"},
        {"REGISTER " + std::string(300, 'x') + "\n", "EOF"},
    };
    for (const auto& c : cases) {
        const int fd = Connect(c.send);
        EXPECT_EQ(Answers(fd), c.answer) << c.send.substr(0, 40);
        Disconnect(fd);
    }
}

TEST_F(RegistrationSocket, NameReleasedWhenItsLastConnectionCloses)
{
    const int first = Connect("REGISTER carol\n"), second = Connect("REGISTER carol\n");
    Disconnect(first);
    EXPECT_EQ(claims_.releases, 0);
    Disconnect(second);
    EXPECT_EQ(claims_.releases, 0) << "kept a moment for a reconnect";
    RunFor(kGrace * 2);
    EXPECT_EQ(claims_.releases, 1);
    // Stopping tells those still registered.
    const int third = Connect("REGISTER carol\n");
    registrations_->ReleaseAll();
    EXPECT_EQ(Answers(third), "CLAIMED CAROL\nRELEASED CAROL\n");
}

TEST_F(RegistrationSocket, OneUserHoldsABoundedNumberOfConnections)
{
    for (std::size_t i = 0; i < kMaxClientsPerUser; ++i)
        EXPECT_EQ(Answers(Connect("REGISTER dave\n")), "CLAIMED DAVE\n");
    EXPECT_EQ(Answers(Connect("REGISTER dave\n")), "REFUSED DAVE too many registrations\nEOF");
}

// The keeper against a spool whose lock another writer holds: the loop goes
// on turning meanwhile, and once the lock is free both batches are kept and
// answered on the loop's thread, in the order given.
TEST(MessageKeeper, WaitsForTheSpoolOffTheLoopAndAnswersOnIt)
{
    char dir[] = "/tmp/vindreld-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const int lock = open((std::string(dir) + "/" + spool::kLockFile).c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    EventLoop loop;
    std::vector<std::string> kept;
    {
        MessageKeeper keeper(loop, dir, nullptr);
        ASSERT_TRUE(keeper.ok());
        const auto start = Clock::now();
        const auto loop_thread = std::this_thread::get_id();
        for (std::vector<std::string> texts : {std::vector<std::string>{"one"}, {"two", "three"}}) {
            std::vector<spool::Record> records;
            for (const std::string& text : texts) records.push_back({0, "A", "B", text + "\n"});
            keeper.Submit(std::move(records), [&](std::vector<spool::StoreResult> results) {
                EXPECT_EQ(std::this_thread::get_id(), loop_thread);
                for (const spool::StoreResult& r : results) {
                    spool::Record record;
                    if (r.error == spool::StoreError::kNone)
                        spool::ReadRecord(dir, r.name, record);
                    kept.push_back(record.text);
                }
            });
        }
        loop.RunOnce(start + std::chrono::milliseconds(300));
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(1)) << "the loop waited for the spool";
        EXPECT_EQ(keeper.unanswered(), 2u);
        close(lock);
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (keeper.unanswered() > 0 && Clock::now() < deadline) loop.RunOnce(deadline);
    }
    EXPECT_EQ(kept, (std::vector<std::string>{"one\n", "two\n", "three\n"}));
    std::filesystem::remove_all(dir);
}

TEST_F(RegistrationSocket, ReconnectsClaimNothingAndAUserClaimsAFewNamesAMinute)
{
    for (int i = 0; i < 5; ++i) {
        const int fd = Connect("REGISTER erin\n");
        EXPECT_EQ(Answers(fd), "CLAIMED ERIN\n");
        Disconnect(fd);
    }
    EXPECT_EQ(claims_.claims, 1);
    EXPECT_EQ(claims_.releases, 0);
    RunFor(kGrace * 2);
    EXPECT_EQ(claims_.releases, 1);
    std::string answers;
    for (const char* login : {"user1", "user2", "user3"})
        answers += Answers(Connect(std::string("REGISTER ") + login + "\n"));
    EXPECT_EQ(answers, "CLAIMED USER1\nCLAIMED USER2\n"
                       "REFUSED USER3 too many claims from that user; try again later\n");
    EXPECT_EQ(claims_.claims, kClaimsPerUserBurst);
}

TEST(PortOwners, SocketTablesReadByPortStateAndInode)
{
    const std::string udp =
        "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ref\n"
        "  1: 00000000:0089 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 101 2\n"
        "  2: 154D0A0A:0089 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 102 2\n"
        "  3: 00000000:008A 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 103 2\n"
        "  4: 00000000:0089 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 0 2\n"
        "  5: 00000000:0089 00000000:0000 07\n"
        "  6: 00000000:89 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 x1 2\n"
        "  7: 00000000000000000000000000000000:0089 00000000000000000000000000000000:0000 07 "
        "00000000:00000000 00:00000000 00000000     0        0 104 2";
    EXPECT_EQ(SocketInodes(udp, 137, false), (std::vector<unsigned long>{101, 102, 104}));
    EXPECT_EQ(SocketInodes(udp, 138, false), (std::vector<unsigned long>{103}));
    const std::string tcp =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 00000000:008B 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 201 1\n"
        "   1: 154D0A0A:008B 0B4D0A0A:9C40 01 00000000:00000000 00:00000000 00000000  4240        0 202 1\n";
    EXPECT_EQ(SocketInodes(tcp, 139, true), (std::vector<unsigned long>{201})) << "a session is not a listener";
    EXPECT_TRUE(SocketInodes("", 137, false).empty());
    EXPECT_TRUE(SocketInodes("heading only", 137, false).empty());
}

}  // namespace
}  // namespace vindrel::daemon
