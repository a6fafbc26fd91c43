// The per-user read state: "read ID", "deleted ID" and "refusals-seen N"
// lines.
#include "app/inbox/read_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <utility>

#include "app/spool/spool_dir.h"

namespace vindrel {
namespace {

// Far more than 1,000 messages' worth of lines.
constexpr qint64 kMaxStateBytes = 1 << 20;

}  // namespace

ReadState::ReadState(QString file) : file_(std::move(file))
{
    QFile in(file_);
    if (!in.open(QIODevice::ReadOnly)) return;
    const QByteArray bytes = in.read(kMaxStateBytes);
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

void ReadState::SetDeleted(const QString& id)
{
    deleted_.insert(id);
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
