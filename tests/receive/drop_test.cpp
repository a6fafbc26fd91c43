// vindrel-drop run as Samba runs it, against hostile names and files, a
// full spool and many drops at once; the spool's limits and each sender's
// share of them; and the record parser against records cut short or
// tampered with.
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "receive/spool_dir.h"

namespace fs = std::filesystem;
using vindrel::spool::Record;

namespace {

// `record` as sent from `source`, in a datagram or not.
Record From(const std::string& source, bool datagram, Record record)
{
    record.source = source;
    record.datagram = datagram;
    return record;
}

struct Outcome {
    int status = -1;
    std::string err;
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Repeat(const std::string& piece, int times)
{
    std::string out;
    while (times-- > 0) out += piece;
    return out;
}

// Starts `command` (found on PATH), its standard error to `err_file`.
pid_t Start(const std::vector<std::string>& command, const fs::path& err_file)
{
    std::vector<char*> argv;
    for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts vindrel-drop with `args`.
pid_t StartDrop(std::vector<std::string> args, const fs::path& err_file)
{
    args.insert(args.begin(), VINDREL_DROP);
    return Start(args, err_file);
}

int WaitFor(pid_t pid)
{
    int raw = 0;
    if (pid <= 0 || waitpid(pid, &raw, 0) != pid || !WIFEXITED(raw)) return -1;
    return WEXITSTATUS(raw);
}

class DropTest : public ::testing::Test {
protected:
    // In memory where the system has it: a spool of a thousand flushed
    // records takes seconds to remove from a disk that discards freed blocks.
    virtual std::string Base() const
    {
        return fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    }

    void SetUp() override
    {
        std::string tmpl = Base() + "/vindrel-drop-test-XXXXXX";
        root_ = mkdtemp(tmpl.data());
        spool_ = root_ / "spool";
        fs::create_directory(spool_);
    }
    void TearDown() override { fs::remove_all(root_); }

    // Runs vindrel-drop with `args`, or `command` as given.
    Outcome Run(std::vector<std::string> args, bool command = false)
    {
        const fs::path err = root_ / ("err" + std::to_string(runs_++));
        Outcome out;
        out.status = WaitFor(command ? Start(args, err) : StartDrop(args, err));
        out.err = ReadFile(err);
        return out;
    }

    // Drops a message file holding `text` (none when nullopt).
    Outcome DropMessage(const std::string& from, const std::string& to,
                        std::optional<std::string> text)
    {
        const fs::path file = root_ / "msg.txt";
        if (text) WriteFile(file, *text);
        return Run({"--spool", spool_.string(), from, to, file.string()});
    }

    std::vector<Record> Records()
    {
        std::vector<Record> records;
        const auto names = vindrel::spool::ListRecordNames(spool_.string());
        EXPECT_TRUE(names);
        for (const auto& name : names.value_or(std::vector<std::string>{})) {
            Record record;
            EXPECT_EQ(vindrel::spool::ReadRecord(spool_.string(), name, record),
                      vindrel::spool::RecordError::kNone)
                << name;
            records.push_back(record);
        }
        return records;
    }

    // Starts `n` drops at once, the i-th from "S<i>" with text(i); their statuses.
    std::vector<int> DropAtOnce(int n, const std::function<std::string(int)>& text)
    {
        std::vector<std::string> files;
        for (int i = 0; i < n; ++i) {
            files.push_back((root_ / ("m" + std::to_string(i))).string());
            WriteFile(files.back(), text(i));
        }
        std::vector<pid_t> pids;
        for (int i = 0; i < n; ++i)
            pids.push_back(StartDrop({"--spool", spool_, "S" + std::to_string(i), "R", files[i]},
                                     root_ / ("e" + std::to_string(i))));
        std::vector<int> statuses;
        for (const pid_t pid : pids) statuses.push_back(WaitFor(pid));
        return statuses;
    }

    // Stores `count` records of `text` from `source` in one batch; how many
    // were kept.
    std::size_t Fill(std::size_t count, const std::string& text = "kept",
                     const std::string& source = "", bool datagram = false)
    {
        std::vector<Record> records;
        for (std::size_t i = 0; i < count; ++i)
            records.push_back(
                From(source, datagram, {static_cast<std::int64_t>(1000 + i), "OLD", "ME", text}));
        std::size_t kept = 0;
        for (const auto& result : vindrel::spool::StoreRecords(spool_.string(), records))
            kept += result.error == vindrel::spool::StoreError::kNone;
        return kept;
    }

    fs::path root_, spool_;
    int runs_ = 0;
};

// Under the sanitizers a drop takes several times as long, and LeakSanitizer
// cannot inspect a setgid process (it may not be traced): there the race is
// smaller, and the setgid runs are left to the plain build.
#ifdef VINDREL_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const std::string kR = "\xEF\xBF\xBD";  // U+FFFD, what a control character becomes

struct Case {
    const char* what;
    std::string from, to;
    std::optional<std::string> text;
    std::string want_from, want_to, want_text;
};

TEST_F(DropTest, HostileNamesAndFilesAreStoredSafelyOrRefused)
{
    const std::string e_acute = "\xC3\xA9", euro = "\xE2\x82\xAC";
    const Case cases[] = {
        {"slashes and dot-dot in names", "../../etc/passwd", "a/b/..", "hi",
         "../../etc/passwd", "a/b/..", "hi"},
        {"escape sequences and DEL in names", "\x1b]0;owned\x07X\x7f", "\x1b[2J", "t",
         kR + "]0;owned" + kR + "X" + kR, kR + "[2J", "t"},
        {"line breaks and C1 controls in names", "a\nb\rc", "x\xC2\x9B" "1m", "t",
         "a" + kR + "b" + kR + "c", "x" + kR + "1m", "t"},
        {"NUL, escape and DEL in the text, a tab kept", "A", "B",
         std::string("a\0b\x1b[31mc\td\x7f" "e", 13), "A", "B",
         "a" + kR + "b" + kR + "[31mc\td" + kR + "e"},
        {"CR LF and lone CR in the text", "A", "B", "one\r\ntwo\rthree\n", "A", "B",
         "one\ntwo\nthree\n"},
        {"malformed UTF-8", "\xFF" "A", "B", "x\xC3(\xED\xA0\x80y", kR + "A", "B",
         "x" + kR + "(" + kR + kR + kR + "y"},
        {"long name cut between two-byte characters", Repeat(e_acute, 40), "B", "t",
         Repeat(e_acute, 32), "B", "t"},
        {"long name cut before a three-byte character", "a" + Repeat(euro, 30), "B", "t",
         "a" + Repeat(euro, 21), "B", "t"},
        {"empty file", "A", "B", "", "A", "B", ""},
        {"oversized file", "A", "B", Repeat(e_acute, 5000), "A", "B", Repeat(e_acute, 1600)},
        {"empty names", "", "", "t", "", "", "t"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(spool_);
        fs::create_directory(spool_);
        const Outcome out = DropMessage(c.from, c.to, c.text);
        EXPECT_EQ(out.status, 0) << out.err;
        EXPECT_EQ(out.err, "");
        const auto records = Records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].from, c.want_from);
        EXPECT_EQ(records[0].to, c.want_to);
        EXPECT_EQ(records[0].text, c.want_text);
        EXPECT_FALSE(fs::exists(root_ / "msg.txt")) << "Samba's file is removed";
        // Nothing was made anywhere but in the spool.
        std::set<std::string> beside;
        for (const auto& entry : fs::directory_iterator(root_))
            if (entry.path().filename().string().rfind("err", 0) != 0)
                beside.insert(entry.path().filename());
        EXPECT_EQ(beside, std::set<std::string>{"spool"});
        EXPECT_EQ(std::distance(fs::directory_iterator(spool_), {}), 2) << "a record and the lock";
    }
}

TEST_F(DropTest, FailuresSayWhyOnOneLineAndKeepTheMessageFile)
{
    const fs::path file = root_ / "msg.txt";
    const fs::path fifo = root_ / "fifo";
    mkfifo(fifo.c_str(), 0600);
    struct Failure {
        const char* what;
        std::vector<std::string> args;
        bool make_file;
        int want_status;
    };
    const Failure failures[] = {
        {"missing file", {"--spool", spool_, "A", "B", (root_ / "none").string()}, false, 1},
        {"a FIFO instead of a file", {"--spool", spool_, "A", "B", fifo.string()}, false, 1},
        {"a directory instead of a file", {"--spool", spool_, "A", "B", root_.string()}, false, 1},
        {"spool missing", {"--spool", (root_ / "nospool").string(), "A", "B", file}, true, 1},
        {"too few arguments", {"A", "B"}, false, 2},
        {"too many arguments", {"--spool", spool_, "A", "B", file, "extra"}, true, 2},
        {"more after a trailing &", {"--spool", spool_, "A", "B", file, "&", "x"}, true, 2},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.what);
        if (f.make_file) WriteFile(file, "keep me");
        const Outcome out = Run(f.args);
        EXPECT_EQ(out.status, f.want_status);
        ASSERT_FALSE(out.err.empty());
        EXPECT_EQ(out.err.find('\n'), out.err.size() - 1) << out.err;
        EXPECT_EQ(out.err.rfind("vindrel-drop: ", 0), 0u) << out.err;
        if (f.make_file) {
            EXPECT_EQ(ReadFile(file), "keep me");
        }
        EXPECT_TRUE(Records().empty());
    }
}

TEST_F(DropTest, TrailingAmpersandThatSambaPassesOnIsIgnored)
{
    const fs::path file = root_ / "msg.txt";
    WriteFile(file, "hi");
    const Outcome out = Run({"--spool", spool_.string(), "A", "B", file.string(), "&"});
    EXPECT_EQ(out.status, 0) << out.err;
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].to, "B");
}

TEST_F(DropTest, FullSpoolRefusesNewMessagesKeepsOldOnesAndCountsRefusals)
{
    ASSERT_EQ(Fill(vindrel::spool::kMaxMessages), vindrel::spool::kMaxMessages);
    for (int refused = 1; refused <= 2; ++refused) {
        const Outcome out = DropMessage("A", "B", "one too many");
        EXPECT_EQ(out.status, 3);
        EXPECT_NE(out.err.find("full"), std::string::npos) << out.err;
        EXPECT_EQ(vindrel::spool::RefusedCount(spool_), static_cast<std::uint64_t>(refused));
    }
    const auto records = Records();
    ASSERT_EQ(records.size(), vindrel::spool::kMaxMessages);
    for (const Record& record : records) EXPECT_EQ(record.text, "kept");
}

TEST_F(DropTest, BatchMeetingFourMebibytesKeepsWhatFitsAndCountsTheRest)
{
    const std::string text = Repeat("\xE2\x82\xAC", 1600);  // the longest there is
    const std::size_t kept = Fill(900, text);
    const Record like{1000, "OLD", "ME", text};
    EXPECT_EQ(kept, vindrel::spool::kMaxSpoolBytes / vindrel::spool::EncodeRecord(like).size());
    EXPECT_EQ(vindrel::spool::RefusedCount(spool_), 900u - kept);
    EXPECT_EQ(DropMessage("A", "B", text).status, 3);
}

// The spool's limits and each sender's share, checked before anything is
// written: a refusal makes no file, and a message that takes a flood's room
// replaces only the oldest of the sender holding most.
TEST_F(DropTest, AtEachLimitAMessageIsRefusedOrTakesTheRoomOfASenderHoldingMore)
{
    using vindrel::spool::StoreError;
    const std::string longest = Repeat("\xE2\x82\xAC", 1600);
    const std::size_t share = vindrel::spool::kMaxSourceMessages;
    auto from = [](const std::string& source, const std::string& text = "new",
                   bool datagram = false) {
        return From(source, datagram, {5000, "NEW", "ME", text});
    };
    struct Row {
        const char* what;
        std::function<void()> fill;
        Record record;
        StoreError want;
        bool replaces;
    };
    const Row rows[] = {
        {"the spool holds 1,000 records", [&] { Fill(vindrel::spool::kMaxMessages); },
         from(""), StoreError::kSpoolFull, false},
        {"the spool holds 4 MiB", [&] { Fill(900, longest); }, from("", longest),
         StoreError::kSpoolFull, false},
        {"its sender holds its share of messages", [&] { Fill(share, "kept", "10.0.0.1"); },
         from("10.0.0.1"), StoreError::kSpoolFull, false},
        {"its sender holds its share of bytes",
         [&] { EXPECT_LT(Fill(share, longest, "10.0.0.1"), share); }, from("10.0.0.1", longest),
         StoreError::kSpoolFull, false},
        {"datagrams from forged sources share one part",
         [&] { Fill(share, "kept", "10.0.0.1", true); }, from("10.0.0.99", "new", true),
         StoreError::kSpoolFull, false},
        {"ten hosts hold their shares", [&] {
             for (int host = 0; host < 10; ++host)
                 Fill(share, "kept", "10.0.1." + std::to_string(host));
         }, from("10.0.0.2"), StoreError::kSpoolFull, false},
        {"beside a host holding its share", [&] { Fill(share, "kept", "10.0.0.1"); },
         from("10.0.0.2"), StoreError::kNone, false},
        {"full of the Samba route's records", [&] { Fill(vindrel::spool::kMaxMessages); },
         from("10.0.0.2"), StoreError::kNone, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(spool_);
        fs::create_directory(spool_);
        row.fill();
        const auto before = *vindrel::spool::ListRecordNames(spool_);
        const std::uint64_t refused = vindrel::spool::RefusedCount(spool_);
        const int watch = inotify_init1(IN_NONBLOCK);
        ASSERT_GE(inotify_add_watch(watch, spool_.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_TO), 0);
        const auto result = vindrel::spool::StoreRecord(spool_, row.record);
        alignas(inotify_event) char events[4096];
        const ssize_t got = read(watch, events, sizeof events);
        close(watch);
        std::set<std::string> touched;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->len && std::string(event->name) != "refused") touched.insert(event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        EXPECT_EQ(result.error, row.want) << result.detail;
        const auto after = *vindrel::spool::ListRecordNames(spool_);
        EXPECT_EQ(vindrel::spool::RefusedCount(spool_), refused + (row.want != StoreError::kNone));
        EXPECT_EQ(vindrel::spool::ReplacedCount(spool_), row.replaces ? 1u : 0u);
        if (row.want != StoreError::kNone) {
            EXPECT_EQ(after, before);
            EXPECT_EQ(touched, std::set<std::string>{}) << "a refusal makes no file but its count";
        } else {
            EXPECT_EQ(after.size(), before.size() + !row.replaces);
            EXPECT_EQ(result.replaced, row.replaces ? before.front() : "");
            EXPECT_EQ(after.front() == before.front(), !row.replaces);
        }
    }
}

TEST_F(DropTest, RecordsRemovedFromOutsideGiveTheirRoomBack)
{
    ASSERT_EQ(Fill(vindrel::spool::kMaxMessages), vindrel::spool::kMaxMessages);
    ASSERT_EQ(Fill(1), 0u);
    const auto names = *vindrel::spool::ListRecordNames(spool_);
    for (int i = 0; i < 10; ++i) fs::remove(spool_ / names[i]);
    EXPECT_EQ(Fill(11), 10u);
    // And again after a writer died writing down the usage.
    for (int i = 10; i < 15; ++i) fs::remove(spool_ / names[i]);
    fs::resize_file(spool_ / ".lock", 20);
    EXPECT_EQ(Fill(6), 5u);
    EXPECT_EQ(Records().size(), vindrel::spool::kMaxMessages);
    EXPECT_EQ(vindrel::spool::RefusedCount(spool_), 3u);
}

TEST_F(DropTest, AWriterHoldingTheLockPastTheWaitLeavesTheSpoolBusy)
{
    ASSERT_EQ(Fill(1), 1u);
    const int lock = open((spool_ / ".lock").c_str(), O_RDWR);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const auto result = vindrel::spool::StoreRecord(spool_, {1, "A", "B", "t"});
    close(lock);
    EXPECT_EQ(result.error, vindrel::spool::StoreError::kSpoolBusy);
    EXPECT_EQ(std::distance(fs::directory_iterator(spool_), {}), 2) << "a record and the lock";
}

// A writer killed mid-write (here by a file-size limit, which the drop
// takes as a failed write instead) leaves no temporary file for long.
TEST_F(DropTest, TemporaryFilesAWriterLeftAreRemovedAtTheNextWrite)
{
    const fs::path file = root_ / "msg.txt";
    WriteFile(file, "hi");
    const Outcome limited = Run({"sh", "-c", "ulimit -f 0; exec \"$0\" \"$@\"", VINDREL_DROP,
                                 "--spool", spool_.string(), "A", "B", file.string()},
                                true);
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(ReadFile(file), "hi");
    WriteFile(spool_ / ".tmp-1-0000dead", "left");
    WriteFile(spool_ / ".tmp-2-0000beef", "being written");
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(1);
    fs::last_write_time(spool_ / ".tmp-1-0000dead", old);
    EXPECT_EQ(DropMessage("A", "B", "hi").status, 0);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(spool_))
        if (entry.path().filename().string().rfind(".tmp-", 0) == 0)
            left.insert(entry.path().filename());
    EXPECT_EQ(left, std::set<std::string>{".tmp-2-0000beef"});
}

// Files a writer of the spool never makes: whoever left them, they are not
// shown, and they neither fill the spool nor hold its writers up.
TEST_F(DropTest, FilesTheSpoolDidNotExpectAreNeitherShownNorCounted)
{
    const std::string valid = vindrel::spool::EncodeRecord({1, "BOSS", "ME", "fake"});
    const std::string name = "1-1-0000000%d.msg";
    auto planted = [&](int n) {
        char out[32];
        std::snprintf(out, sizeof out, name.c_str(), n);
        return spool_ / out;
    };
    WriteFile(planted(0), valid);
    fs::resize_file(planted(0), std::uint64_t{1} << 40);  // sparse: no room taken
    fs::create_symlink(root_ / "elsewhere", planted(1));
    WriteFile(root_ / "elsewhere", valid);
    mkfifo(planted(2).c_str(), 0644);
    fs::create_directory(planted(3));
    WriteFile(spool_ / "junk", std::string(vindrel::spool::kMaxSpoolBytes, 'x'));
    if (geteuid() == 0) {
        // A stranger's record "from BOSS", and a count of refusals made up.
        WriteFile(planted(4), valid);
        WriteFile(spool_ / vindrel::spool::kRefusedFile, "999\n");
        ASSERT_EQ(chown(planted(4).c_str(), 4243, 4243), 0);
        ASSERT_EQ(chown((spool_ / vindrel::spool::kRefusedFile).c_str(), 4243, 4243), 0);
    }
    EXPECT_TRUE(Records().empty());
    EXPECT_EQ(vindrel::spool::RefusedCount(spool_), 0u);

    // Every reader may lock the directory; the writers do not wait for that.
    const int dir = open(spool_.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(dir, LOCK_EX), 0);
    ASSERT_EQ(Fill(vindrel::spool::kMaxMessages - 1), vindrel::spool::kMaxMessages - 1);
    EXPECT_EQ(DropMessage("A", "B", "the last place").status, 0);
    EXPECT_EQ(DropMessage("A", "B", "one too many").status, 3);
    close(dir);
    EXPECT_EQ(Records().size(), vindrel::spool::kMaxMessages);
    EXPECT_EQ(vindrel::spool::RefusedCount(spool_), 1u);
}

TEST_F(DropTest, FiftyDropsAtOnceAreAllKeptWhole)
{
    const int kDrops = 50;
    for (const int status : DropAtOnce(kDrops, [](int i) {
             return "message " + std::to_string(i) + "\n" + std::string(1500, 'a' + i % 26);
         }))
        EXPECT_EQ(status, 0);
    std::set<std::string> texts;
    for (const Record& record : Records()) {
        EXPECT_EQ(record.text.substr(record.text.find('\n') + 1).size(), 1500u);
        texts.insert(record.from + " " + record.text.substr(0, record.text.find('\n')));
    }
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(kDrops));
    EXPECT_TRUE(texts.count("S7 message 7"));
}

// On a disk, where each writer's flush takes milliseconds: there writers
// crowd the lock long enough for a bound on the wait to matter. (Not /tmp,
// which may be in memory, and mounted nosuid.)
class DropOnDiskTest : public DropTest {
protected:
    std::string Base() const override { return "/var/tmp"; }
};

TEST_F(DropOnDiskTest, DropsRacingForTheLastPlacesKeepSoManyAndCountTheRest)
{
    const int racers = kSanitized ? 20 : 200, places = racers / 20;
    // Written straight in, never flushed: quick to remove again.
    for (std::size_t i = 0; i < vindrel::spool::kMaxMessages - places; ++i)
        WriteFile(spool_ / ("1-1-" + std::to_string(10'000'000 + i) + ".msg"),
                  vindrel::spool::EncodeRecord({1, "OLD", "ME", "kept"}));
    int stored = 0, full = 0;
    for (const int status : DropAtOnce(racers, [](int) { return "racer"; })) {
        stored += status == 0;
        full += status == 3;
    }
    EXPECT_EQ(stored, places);
    EXPECT_EQ(full, racers - places);
    EXPECT_EQ(vindrel::spool::RefusedCount(spool_), static_cast<std::uint64_t>(racers - places));
    EXPECT_EQ(Records().size(), vindrel::spool::kMaxMessages);
}

// Installed with the spool's group (setgid), anyone can start the drop: it
// must serve only root and the guest account of the Samba configured here,
// store only in the spool it was built for, read and remove Samba's file
// with the caller's own rights, never make the lock its caller could then
// hold, and leave records its caller cannot simply write again. Each run is
// in a mount namespace of its own where the built-in spool's parent is a
// directory of the test and /etc an overlay holding the row's smb.conf.
TEST_F(DropOnDiskTest, WithTheSpoolsGroupItServesOnlyRootAndSambasGuestAccount)
{
    if (kSanitized) GTEST_SKIP() << "LeakSanitizer cannot inspect a setgid process";
    if (geteuid() != 0) {
        if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")
            FAIL() << "needs root, which CI has";
        GTEST_SKIP() << "needs root";
    }
    constexpr gid_t kGroup = 4244;  // no group of this machine's
    constexpr uid_t kStranger = 4243, kNobody = 65534;
    const passwd* daemon_account = getpwnam("daemon");
    ASSERT_NE(daemon_account, nullptr);
    const uid_t kDaemon = daemon_account->pw_uid;
    const fs::path builtin = vindrel::spool::kDefaultSpool;
    const fs::path bound = root_ / "bound", spool = bound / builtin.filename();
    const fs::path drop = root_ / "vindrel-drop", inbox = root_ / "samba";
    const fs::path lock = spool / ".lock";
    fs::create_directories(spool);
    fs::create_directory(inbox);
    fs::copy_file(VINDREL_DROP, drop);
    ASSERT_EQ(chown(spool.c_str(), 0, kGroup) | chmod(spool.c_str(), 0775) |
                  chown(drop.c_str(), 0, kGroup) | chmod(drop.c_str(), 02755) |
                  chmod(root_.c_str(), 0755) | chmod(inbox.c_str(), 01777),
              0);
    auto records = [&] {
        return vindrel::spool::ListRecordNames(spool).value_or(std::vector<std::string>{});
    };
    // Runs `command` as `uid` in the namespace, with `conf` as smb.conf (none: no file).
    auto run_as = [&](uid_t uid, const std::optional<std::string>& conf,
                      std::vector<std::string> command) {
        const fs::path layer = root_ / ("etc" + std::to_string(runs_));
        fs::create_directories(layer / "upper" / "samba");
        fs::create_directory(layer / "work");
        if (conf) WriteFile(layer / "upper" / "samba" / "smb.conf", *conf);
        else mknod((layer / "upper" / "samba" / "smb.conf").c_str(), S_IFCHR, 0);  // removed
        std::vector<std::string> full{
            "unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
            R"(mount --bind "$1" "$2" && mount -t overlay overlay \
               -o "lowerdir=/etc,upperdir=$3/upper,workdir=$3/work" /etc && shift 3 && exec "$@")",
            "sh", bound.string(), builtin.parent_path().string(), layer.string()};
        if (uid != 0)
            full.insert(full.end(), {"setpriv", "--reuid=" + std::to_string(uid),
                                     "--regid=" + std::to_string(uid), "--clear-groups"});
        full.insert(full.end(), command.begin(), command.end());
        return Run(full, true);
    };
    const std::string guest_default = "[global]\n   message command = /x \"%f\" \"%L\" \"%s\"\n";
    const std::string guest_daemon = "[global]\n   Guest Account = daemon\n";
    enum class Lock { kOwners, kMissing, kCallers };
    struct Row {
        const char* what;
        uid_t uid;
        std::optional<std::string> conf;
        std::vector<std::string> options;
        bool own_record;  // Samba's file named as a record already kept
        Lock lock;
        int want_status;
    };
    const Row rows[] = {
        {"root", 0, guest_default, {}, false, Lock::kOwners, 0},
        {"a local user", kStranger, guest_default, {}, false, Lock::kOwners, 4},
        {"root naming a spool of its own", 0, guest_default, {"--spool", root_.string()}, false,
         Lock::kOwners, 2},
        {"Samba's default guest account", kNobody, guest_default, {}, false, Lock::kOwners, 0},
        {"the guest account naming a kept record as its file", kNobody, guest_default, {}, true,
         Lock::kOwners, 0},
        {"nobody where no Samba is configured", kNobody, std::nullopt, {}, false, Lock::kOwners, 4},
        {"nobody where Samba's guest is another", kNobody, guest_daemon, {}, false, Lock::kOwners,
         4},
        {"the guest account set in smb.conf", kDaemon, guest_daemon, {}, false, Lock::kOwners, 0},
        {"the guest account where the owner made no lock", kNobody, guest_default, {}, false,
         Lock::kMissing, 1},
        {"the guest account finding a lock it owns", kNobody, guest_default, {}, false,
         Lock::kCallers, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::size_t before = records().size();
        fs::path file = inbox / "msg";
        if (row.own_record) {
            ASSERT_GT(before, 0u);
            file = spool / records().front();
        } else {
            WriteFile(file, "from the boss");
            ASSERT_EQ(chown(file.c_str(), row.uid, row.uid), 0);
        }
        if (row.lock != Lock::kOwners) fs::remove(lock);
        if (row.lock == Lock::kCallers) {
            WriteFile(lock, "");
            ASSERT_EQ(chown(lock.c_str(), row.uid, kGroup) | chmod(lock.c_str(), 0660), 0);
        }
        std::vector<std::string> command{drop.string()};
        command.insert(command.end(), row.options.begin(), row.options.end());
        command.insert(command.end(), {"BOSS", "ME", file.string()});
        const Outcome out = run_as(row.uid, row.conf, command);
        EXPECT_EQ(out.status, row.want_status) << out.err;
        EXPECT_EQ(records().size(), before + (row.want_status == 0)) << out.err;
        EXPECT_EQ(fs::exists(file), row.want_status != 0 || row.own_record);
        if (row.lock != Lock::kOwners) {
            EXPECT_NE(out.err.find(".lock"), std::string::npos) << out.err;
            struct stat st{};
            EXPECT_EQ(stat(lock.c_str(), &st) == 0 ? st.st_uid : kStranger,
                      row.lock == Lock::kMissing ? kStranger : row.uid)
                << "left as it was";
            fs::remove(lock);
            WriteFile(file, "from root");
            ASSERT_EQ(run_as(0, guest_default, {drop.string(), "A", "B", file.string()}).status, 0);
            ASSERT_TRUE(fs::exists(lock)) << "made again by the spool's owner";
        }
        for (const auto& name : records()) {
            struct stat st{};
            ASSERT_EQ(stat((spool / name).c_str(), &st), 0) << name;
            EXPECT_EQ(st.st_gid, kGroup) << name;
            EXPECT_EQ(st.st_mode & 0777, 0444u) << name;
        }
    }
    // What the guest account wrote, it cannot simply write again.
    const std::string written = (spool / records().back()).string();
    EXPECT_NE(run_as(kNobody, guest_default, {"sh", "-c", "echo forged >>\"$0\"", written}).status,
              0);
}

TEST(Record, CutAtEveryLengthOrTamperedWithIsRefused)
{
    Record record{1796649673841, "ALICE", "BOB", "caf\xC3\xA9\nsecond line"};
    record.source = "10.0.0.7";
    record.datagram = true;
    const std::string bytes = vindrel::spool::EncodeRecord(record);
    Record back;
    ASSERT_EQ(vindrel::spool::ParseRecord(bytes, back), vindrel::spool::RecordError::kNone);
    EXPECT_EQ(back.text, record.text);
    EXPECT_EQ(back.source, record.source);
    EXPECT_TRUE(back.datagram);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_NE(vindrel::spool::ParseRecord(bytes.substr(0, cut), back),
                  vindrel::spool::RecordError::kNone)
            << cut;
    using vindrel::spool::RecordError;
    auto with = [&](const std::string& from, const std::string& to) {
        std::string tampered = bytes;
        tampered.replace(tampered.find(from), from.size(), to);
        return tampered;
    };
    const std::pair<std::string, RecordError> tampered[] = {
        {with("vindrel-message 1", "vindrel-message 2"), RecordError::kBadHeader},
        // Records written before the optional lines existed.
        {with("source 10.0.0.7\nvia datagram\n", ""), RecordError::kNone},
        {with("source 10.0.0.7", "source 10.0.0.256"), RecordError::kBadField},
        {with("source 10.0.0.7", "source 010.0.0.7"), RecordError::kBadField},
        {with("via datagram", "via mail"), RecordError::kBadField},
        {with("received 1796649673841", "received -5"), RecordError::kBadField},
        {with("received 1796649673841", "received 99999999999999999999"), RecordError::kBadField},
        {with("from ALICE", "from AL\x1b" "CE"), RecordError::kBadName},
        {with("to BOB", "to " + std::string(65, 'B')), RecordError::kBadName},
        {with("length 17", "length 16"), RecordError::kBadLength},
        {with("length 17", "length 999999999999999999"), RecordError::kBadLength},
        {with("second", "sec\x07nd"), RecordError::kBadText},
        {with("second", "sec\r\nd"), RecordError::kBadText},
        {bytes + std::string(vindrel::spool::kMaxRecordBytes, 'x'), RecordError::kTooLarge},
    };
    for (const auto& [input, want] : tampered)
        EXPECT_EQ(vindrel::spool::ParseRecord(input, back), want) << input;
}

TEST(Record, OnlyRecordNamesAreRead)
{
    const std::pair<const char*, bool> names[] = {
        {"1796649673841-123-0a1b2c3d.msg", true}, {"1-1-ffffffff.msg", true},
        {".tmp-1-0a1b2c3d", false},               {"refused", false},
        {"../1-1-ffffffff.msg", false},           {"1-1-ffffffff.msg.tmp", false},
        {"1-1-fffffff.msg", false},               {"a-1-ffffffff.msg", false},
    };
    for (const auto& [name, want] : names)
        EXPECT_EQ(vindrel::spool::IsRecordName(name), want) << name;
}

}  // namespace
