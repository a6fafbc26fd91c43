// The inbox: the spool's records for one user.
#include "app/inbox/inbox.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <utility>

#include "app/spool/spool_dir.h"

namespace vindrel {
namespace {

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString LocalTimeText(qint64 received_ms)
{
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(received_ms), QLocale::ShortFormat);
}

Inbox::Inbox(QString spool, QString state_file, QObject* parent)
    : QObject(parent), spool_(std::move(spool)), state_(std::move(state_file))
{
    QStringList none;
    for (const std::string& name :
         spool::ListRecordNames(spool_.toStdString()).value_or(std::vector<std::string>{}))
        Load(QString::fromStdString(name), false, none);
    refused_ = spool::RefusedCount(spool_.toStdString());
}

void Inbox::Start()
{
    // inotify sees a record the moment it is renamed into place; the poll
    // covers a spool made after start or a watch the system refused.
    watcher_.addPath(spool_);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &Inbox::Rescan);
    connect(&poll_, &QTimer::timeout, this, &Inbox::Rescan);
    poll_.start(kPollMs);

    int shown = 0;
    for (const InboxMessage& message : messages_) {
        if (message.read) continue;
        if (++shown > kStartupArrivals) break;
        emit arrived(message.id);
    }
    Rescan();
}

void Inbox::Load(const QString& id, bool announce, QStringList& announced)
{
    seen_.insert(id);
    if (state_.IsDeleted(id)) return;
    spool::Record record;
    if (spool::ReadRecord(spool_.toStdString(), id.toStdString(), record) !=
        spool::RecordError::kNone)
        return;
    InboxMessage message{id,          FromUtf8(record.from), FromUtf8(record.to),
                         FromUtf8(record.text), record.received_ms, state_.IsRead(id)};
    // Newest first; records mostly arrive in order, so this is near the front.
    const auto at = std::upper_bound(messages_.begin(), messages_.end(), message,
                                     [](const InboxMessage& a, const InboxMessage& b) {
                                         return a.received_ms > b.received_ms ||
                                                (a.received_ms == b.received_ms && a.id > b.id);
                                     });
    messages_.insert(at, std::move(message));
    if (announce && !state_.IsRead(id)) announced.append(id);
}

void Inbox::Rescan()
{
    if (!watcher_.directories().contains(spool_)) watcher_.addPath(spool_);
    // A spool that cannot be listed for now has not lost its messages.
    const auto names = spool::ListRecordNames(spool_.toStdString());
    if (!names) return;
    QSet<QString> present;
    QStringList announced;
    bool changed_any = false;
    for (const std::string& name : *names) {
        const QString id = QString::fromStdString(name);
        present.insert(id);
        if (seen_.contains(id)) continue;
        Load(id, true, announced);
        changed_any = true;
    }
    // Records aged out of the spool by the system's cleaning.
    const auto gone =
        std::remove_if(messages_.begin(), messages_.end(),
                       [&](const InboxMessage& m) { return !present.contains(m.id); });
    if (gone != messages_.end()) {
        messages_.erase(gone, messages_.end());
        changed_any = true;
    }
    seen_.intersect(present);

    refused_ = spool::RefusedCount(spool_.toStdString());
    if (refused_ < state_.RefusalsSeen()) {
        // The count was cleaned away and started again.
        state_.SetRefusalsSeen(refused_);
        SaveState();
    } else if (refused_ > state_.RefusalsSeen()) {
        const quint64 more = refused_ - state_.RefusalsSeen();
        state_.SetRefusalsSeen(refused_);
        SaveState();
        emit refusedMore(more);
    }
    if (changed_any) emit changed();
    // Oldest first, as they came.
    std::sort(announced.begin(), announced.end(), [this](const QString& a, const QString& b) {
        return Find(a)->received_ms < Find(b)->received_ms;
    });
    for (const QString& id : announced) emit arrived(id);
}

const InboxMessage* Inbox::Find(const QString& id) const
{
    for (const InboxMessage& message : messages_)
        if (message.id == id) return &message;
    return nullptr;
}

int Inbox::UnreadCount() const
{
    return static_cast<int>(std::count_if(messages_.begin(), messages_.end(),
                                          [](const InboxMessage& m) { return !m.read; }));
}

void Inbox::SetRead(const QString& id, bool read)
{
    for (InboxMessage& message : messages_) {
        if (message.id != id || message.read == read) continue;
        message.read = read;
        state_.SetRead(id, read);
        SaveState();
        emit changed();
        return;
    }
}

void Inbox::Delete(const QString& id)
{
    const auto at = std::find_if(messages_.begin(), messages_.end(),
                                 [&](const InboxMessage& m) { return m.id == id; });
    if (at == messages_.end()) return;
    messages_.erase(at);
    state_.SetDeleted(id);
    SaveState();
    emit changed();
}

void Inbox::SaveState()
{
    state_.KeepOnly(seen_);
    if (!state_.Save()) qWarning("vindrel-inbox: cannot save which messages were read");
}

}  // namespace vindrel
