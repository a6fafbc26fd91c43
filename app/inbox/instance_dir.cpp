// Choosing the single-instance directory. A shared /tmp would let another
// user take the lock first and make this user's inbox give way.
#include "app/inbox/instance_dir.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>
#include <unistd.h>

namespace vindrel {

bool IsPrivateDir(const QString& dir)
{
    struct stat st{};
    return !dir.isEmpty() && lstat(QFile::encodeName(dir).constData(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

std::optional<QString> InstanceDir(const QString& runtime, const QString& temp,
                                   const QString& cache, QString& why)
{
    const QString candidates[] = {
        runtime,
        temp.isEmpty() ? QString() : temp + QStringLiteral("/vindrel-inbox-%1").arg(geteuid()),
        cache.isEmpty() ? QString() : cache + QStringLiteral("/vindrel-inbox"),
    };
    why.clear();
    for (int i = 0; i < 3; ++i) {
        const QString& dir = candidates[i];
        if (dir.isEmpty()) continue;
        // Made by us or already there: either way checked, never trusted.
        if (i == 2) QDir().mkpath(cache);
        if (i > 0) mkdir(QFile::encodeName(dir).constData(), 0700);
        if (IsPrivateDir(dir)) return QDir::cleanPath(dir);
        why += QStringLiteral("%1%2 is not a directory of this user's alone")
                   .arg(why.isEmpty() ? QString() : QStringLiteral("; "), dir);
    }
    return std::nullopt;
}

}  // namespace vindrel
