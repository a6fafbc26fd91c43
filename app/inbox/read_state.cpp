// The per-user read state: "read ID", "deleted ID" and "refusals-seen N"
// lines.
#include "app/inbox/read_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "receive/spool_dir.h"

namespace vindrel {
namespace {

// Far more than 1,000 messages' worth of lines.
constexpr qint64 kMaxStateBytes = 1 << 20;

// The file's first kMaxStateBytes, read only from a regular file: anything
// else at that path (a FIFO, a device) must not stall the start.
QByteArray ReadStateFile(const QString& file)
{
    const int fd = open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    QByteArray bytes;
    struct stat st{};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        bytes.resize(kMaxStateBytes);
        qint64 got = 0;
        while (got < kMaxStateBytes) {
            const ssize_t n =
                read(fd, bytes.data() + got, static_cast<size_t>(kMaxStateBytes - got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += n;
        }
        bytes.resize(got);
    }
    close(fd);
    return bytes;
}

}  // namespace

ReadState::ReadState(QString file) : file_(std::move(file))
{
    const QByteArray bytes = ReadStateFile(file_);
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype space = line.indexOf(' ');
        if (space <= 0) continue;
        const QByteArray key = line.left(space);
        const QByteArray value = line.mid(space + 1);
        if (key == "refusals-seen") {
            bool ok = false;
            const qulonglong count = value.toULongLong(&ok);
            if (ok) refusals_seen_ = count;
            continue;
        }
        if (!spool::IsRecordName(value.toStdString())) continue;
        if (key == "read") read_.insert(QString::fromLatin1(value));
        if (key == "deleted") deleted_.insert(QString::fromLatin1(value));
    }
}

void ReadState::SetRead(const QString& id, bool read)
{
    if (read) {
        read_.insert(id);
    } else {
        read_.remove(id);
    }
}

void ReadState::SetDeleted(const QString& id, bool deleted)
{
    if (deleted) {
        deleted_.insert(id);
    } else {
        deleted_.remove(id);
    }
}

void ReadState::SetRefusalsSeen(std::uint64_t count)
{
    refusals_seen_ = count;
}

void ReadState::KeepOnly(const QSet<QString>& ids)
{
    read_.intersect(ids);
    deleted_.intersect(ids);
}

bool ReadState::Save() const
{
    QDir().mkpath(QFileInfo(file_).absolutePath());
    QSaveFile out(file_);
    if (!out.open(QIODevice::WriteOnly)) return false;
    QByteArray bytes = "refusals-seen " + QByteArray::number(refusals_seen_) + "\n";
    for (const QString& id : read_) bytes += "read " + id.toLatin1() + "\n";
    for (const QString& id : deleted_) bytes += "deleted " + id.toLatin1() + "\n";
    out.write(bytes);
    return out.commit();
}

}  // namespace vindrel
