// The per-user read state, kept in the file receive/read_state.h reads and
// writes.
#include "app/inbox/read_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <utility>

#include "receive/read_state.h"

namespace vindrel {

ReadState::ReadState(QString file) : file_(std::move(file))
{
    const spool::ReadMarks marks =
        spool::ParseReadMarks(spool::ReadMarksFile(QFile::encodeName(file_).toStdString()));
    refusals_seen_ = marks.refusals_seen;
    for (const std::string& id : marks.read) read_.insert(QString::fromStdString(id));
    for (const std::string& id : marks.deleted) deleted_.insert(QString::fromStdString(id));
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
    spool::ReadMarks marks;
    marks.refusals_seen = refusals_seen_;
    for (const QString& id : read_) marks.read.push_back(id.toStdString());
    for (const QString& id : deleted_) marks.deleted.push_back(id.toStdString());
    const std::string bytes = spool::FormatReadMarks(marks);
    out.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return out.commit();
}

}  // namespace vindrel
