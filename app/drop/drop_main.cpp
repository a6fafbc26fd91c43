// vindrel-drop: Samba's message command. Keeps the message Samba wrote in
// the spool and removes Samba's file.
//   vindrel-drop [--spool DIR] FROM TO FILE
// Exit status 0 when stored; otherwise one line on standard error (Samba
// logs it): 1 failed, 2 usage, 3 refused because the spool is full, 4 not
// allowed to run.
// It runs as Samba's guest account for every message that arrives, with
// FROM, TO and the text chosen by whoever sent it. Installed with the
// spool's group (setgid), it writes there through that group; since anyone
// can start it then, it serves only root and the guest account of the Samba
// configured on this computer (none without a configuration), writes only
// to the spool it was built for, and reads and removes Samba's file with
// the caller's own rights. The package makes it setgid only where Samba's
// message command names it.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "receive/spool_dir.h"
#include "samba/samba_config.h"

namespace {

constexpr int kStored = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kFull = 3;
constexpr int kNotAllowed = 4;

// Where Samba reads its configuration unless told otherwise.
constexpr char kSambaConfig[] = "/etc/samba/smb.conf";

// Enough bytes for the longest text kept (four bytes a character at most);
// the rest of a larger file is never read.
constexpr std::size_t kReadLimit = vindrel::spool::kMaxTextChars * 4;

int Fail(int status, const std::string& line)
{
    std::fprintf(stderr, "vindrel-drop: %s\n", line.c_str());
    return status;
}

// The start of the message file. A FIFO or device in its place must not
// hold the command up, hence no blocking open and regular files only.
bool ReadMessageFile(const char* path, std::string& text, std::string& error)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        close(fd);
        return false;
    }
    text.assign(kReadLimit, '\0');
    std::size_t got = 0;
    while (got < kReadLimit) {
        const ssize_t n = read(fd, text.data() + got, kReadLimit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    text.resize(got);
    return true;
}

// Whether the real user may write to the spool through its group: root,
// and the account Samba runs the message command as. Without a Samba
// configuration no Samba runs it, and Samba's default guest account
// (nobody, which other services share) is no one to trust. `why` says
// otherwise.
bool MaySendThroughGroup(std::string& why)
{
    const uid_t caller = getuid();
    if (caller == 0) return true;
    const auto config = vindrel::netbios::ReadConfigFile(kSambaConfig);
    if (!config) {
        why = "run by uid " + std::to_string(caller) + " on a computer without a Samba " +
              "configuration (" + kSambaConfig + "), whose Samba would run it";
        return false;
    }
    std::string guest =
        vindrel::netbios::ParseSambaConfig(*config, vindrel::netbios::ReadConfigFile).guest_account;
    if (guest.empty()) guest = "nobody";  // Samba's own default
    const passwd* account = getpwnam(guest.c_str());
    if (account != nullptr && account->pw_uid == caller) return true;
    why = "run by uid " + std::to_string(caller) + ", which is neither root nor Samba's guest " +
          "account (" + guest + ", from " + kSambaConfig + ")";
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    // Started with the spool's group (setgid): the caller's own group for
    // everything but the store itself.
    const bool through_group = getauxval(AT_SECURE) != 0;
    // A file-size limit fails the write, which is then cleaned up, rather
    // than killing this program between writing a file and removing it.
    signal(SIGXFSZ, SIG_IGN);
    const gid_t spool_group = getegid();
    if (through_group && setegid(getgid()) != 0)
        return Fail(kFailed, std::string("cannot set the group back: ") + std::strerror(errno));

    std::string spool = vindrel::spool::kDefaultSpool;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--spool") == 0) {
        if (through_group)
            return Fail(kUsage, "--spool is for a copy run without the spool's group");
        spool = argv[2];
        first = 3;
    }
    // Recipes put "&" after the command to background it; Samba passes it
    // on as a word instead. Returning at once is this program's own job.
    if (argc - first == 4 && std::strcmp(argv[argc - 1], "&") == 0) --argc;
    if (argc - first != 3)
        return Fail(kUsage, "usage: vindrel-drop [--spool DIR] FROM TO FILE");
    std::string why;
    if (through_group && !MaySendThroughGroup(why)) return Fail(kNotAllowed, "refused: " + why);
    const char* file = argv[first + 2];

    vindrel::spool::Record record;
    record.received_ms = vindrel::spool::NowMs();
    record.from = vindrel::spool::CleanName(argv[first]);
    record.to = vindrel::spool::CleanName(argv[first + 1]);
    std::string raw, error;
    if (!ReadMessageFile(file, raw, error))
        return Fail(kFailed, "cannot read the message file " + std::string(file) + ": " + error);
    record.text = vindrel::spool::CleanText(raw);

    if (through_group && setegid(spool_group) != 0)
        return Fail(kFailed, std::string("cannot take the spool's group: ") + std::strerror(errno));
    const auto stored = vindrel::spool::StoreRecord(spool, record);
    if (through_group && setegid(getgid()) != 0)
        return Fail(kFailed, std::string("cannot set the group back: ") + std::strerror(errno));
    // Run by Samba but not given the spool's group, which the package does
    // only where Samba's message command names this program.
    const bool denied = stored.detail.find(std::strerror(EACCES)) != std::string::npos;
    const std::string hint = !through_group && geteuid() != 0 && denied
                                 ? std::string(" (vindrel-drop has not the spool's group, which it "
                                               "is given once Samba's message command names it: "
                                               "dpkg-reconfigure vindrel-receiver)")
                                 : std::string();
    const std::string said = vindrel::spool::Describe(stored.error, spool);
    switch (stored.error) {
    case vindrel::spool::StoreError::kNone:
        unlink(file);
        return kStored;
    case vindrel::spool::StoreError::kSpoolFull:
        // Refused and counted; the inbox tells its users. Samba's file
        // would only pile up.
        unlink(file);
        return Fail(kFull, said + "; message from " + record.from + " refused" +
                               (stored.detail.empty() ? "" : "; " + stored.detail));
    case vindrel::spool::StoreError::kSpoolMissing:
    case vindrel::spool::StoreError::kSpoolBusy:
    case vindrel::spool::StoreError::kWriteFailed:
        break;
    }
    return Fail(kFailed, said + ": " + stored.detail + hint + "; the message stays in " + file);
}
