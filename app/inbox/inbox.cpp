// The inbox: the spool's records for one user.
#include "app/inbox/inbox.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include "receive/spool_dir.h"

namespace vindrel {
namespace {

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool NewerFirst(const InboxMessage& a, const InboxMessage& b)
{
    return a.received_ms > b.received_ms || (a.received_ms == b.received_ms && a.id > b.id);
}

// Running short of files or memory passes; a record that could not be read
// for it is looked at again later rather than taken for a bad one.
bool Passing(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == EAGAIN ||
           error == EINTR;
}

}  // namespace

QString LocalTimeText(qint64 received_ms)
{
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(received_ms), QLocale::ShortFormat);
}

Inbox::Inbox(QString spool, QString state_file, QObject* parent, std::size_t max_records)
    : QObject(parent), spool_(std::move(spool)), max_records_(max_records),
      state_(std::move(state_file))
{
    soon_.setSingleShot(true);
    connect(&soon_, &QTimer::timeout, this, &Inbox::Rescan);
    connect(&poll_, &QTimer::timeout, this, &Inbox::Rescan);
    QStringList none;
    LoadSpool(none);
    refused_ = spool::RefusedCount(spool_.toStdString());
    replaced_ = spool::ReplacedCount(spool_.toStdString());
}

void Inbox::Start()
{
    // inotify sees a record the moment it is renamed into place; the poll
    // covers a spool made after start or a watch the system refused.
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &Inbox::ScheduleRescan);
    started_ = true;

    QStringList unread;
    for (const InboxMessage& message : messages_) {
        if (message.read) continue;
        unread.append(message.id);
        if (unread.size() == kStartupArrivals) break;
    }
    for (const QString& id : unread) emit arrived(id);
    Rescan();
}

void Inbox::KeepWatching()
{
    if (!watcher_.directories().contains(spool_)) watcher_.addPath(spool_);
    if (watcher_.directories().contains(spool_) && !listing_failed_) {
        poll_.stop();
    } else if (!poll_.isActive()) {
        poll_.start(kPollMs);
    }
}

void Inbox::ScheduleRescan()
{
    if (soon_.isActive()) return;
    const qint64 wait =
        since_rescan_.isValid() ? rescan_cost_ms_ * kRescanSpacing - since_rescan_.elapsed() : 0;
    soon_.start(static_cast<int>(std::max<qint64>(wait, 0)));
}

Inbox::Loaded Inbox::Load(const QString& id)
{
    if (state_.IsDeleted(id)) return Loaded::kSkipped;
    spool::Record record;
    errno = 0;
    if (spool::ReadRecord(spool_.toStdString(), id.toStdString(), record) !=
        spool::RecordError::kNone)
        return Passing(errno) ? Loaded::kRetry : Loaded::kSkipped;
    InboxMessage message{id,          FromUtf8(record.from), FromUtf8(record.to),
                         FromUtf8(record.text), record.received_ms, state_.IsRead(id),
                         record.datagram};
    // Records mostly arrive in order, so this is near the front.
    messages_.insert(std::upper_bound(messages_.begin(), messages_.end(), message, NewerFirst),
                     std::move(message));
    return Loaded::kShown;
}

bool Inbox::LoadSpool(QStringList& announced, bool* changed)
{
    const std::optional<std::vector<std::string>> names =
        spool::ListRecordNames(spool_.toStdString());
    if (!names) {
        // Not knowing is not "empty": every message and mark stays as it is.
        if (!listing_failed_)
            qWarning("vindrel-inbox: cannot list the spool %s", qPrintable(spool_));
        listing_failed_ = true;
        return false;
    }
    listing_failed_ = false;

    // Oldest first by name: the newest are at the end.
    const std::size_t first = names->size() > max_records_ ? names->size() - max_records_ : 0;
    if (first > 0 && first != ignored_)
        qWarning("vindrel-inbox: %zu records in the spool are past the newest %zu and not read",
                 first, max_records_);
    ignored_ = first;
    QSet<QString> newest;
    newest.reserve(static_cast<qsizetype>(names->size() - first));
    QSet<QString> present;  // every record: the marks worth keeping
    present.reserve(static_cast<qsizetype>(names->size()));
    for (std::size_t i = 0; i < names->size(); ++i) {
        const QString id = QString::fromStdString((*names)[i]);
        present.insert(id);
        if (i < first) continue;
        if (seen_.contains(id)) {
            newest.insert(id);
            continue;
        }
        const Loaded loaded = Load(id);
        if (loaded == Loaded::kRetry) continue;
        newest.insert(id);
        if (loaded != Loaded::kShown) continue;
        if (changed) *changed = true;
        if (!state_.IsRead(id)) announced.append(id);
    }
    // Records cleaned away by the system, or pushed past the newest.
    const auto gone = std::remove_if(messages_.begin(), messages_.end(),
                                     [&](const InboxMessage& m) { return !newest.contains(m.id); });
    if (gone != messages_.end()) {
        messages_.erase(gone, messages_.end());
        if (changed) *changed = true;
    }
    seen_ = std::move(newest);
    state_.KeepOnly(present);
    return true;
}

void Inbox::Rescan()
{
    soon_.stop();
    QElapsedTimer cost;
    cost.start();
    QStringList announced;
    bool changed_any = false;
    const bool listed = LoadSpool(announced, &changed_any);
    if (started_) KeepWatching();
    if (!listed) return;

    refused_ = spool::RefusedCount(spool_.toStdString());
    const std::uint64_t replaced =
        std::exchange(replaced_, spool::ReplacedCount(spool_.toStdString()));
    changed_any = changed_any || replaced != replaced_;
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
    const QSet<QString> fresh(announced.begin(), announced.end());
    QStringList in_order;
    for (auto it = messages_.rbegin(); it != messages_.rend(); ++it)
        if (fresh.contains(it->id)) in_order.append(it->id);
    for (const QString& id : in_order) emit arrived(id);
    rescan_cost_ms_ = cost.elapsed();
    since_rescan_.start();
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

void Inbox::Delete(QString id)
{
    const auto at = std::find_if(messages_.begin(), messages_.end(),
                                 [&](const InboxMessage& m) { return m.id == id; });
    if (at == messages_.end()) return;
    messages_.erase(at);
    state_.SetDeleted(id);
    SaveState();
    emit changed();
}

void Inbox::Undelete(const QString& id)
{
    if (!state_.IsDeleted(id)) return;
    state_.SetDeleted(id, false);
    SaveState();
    if (seen_.contains(id) && !Find(id) && Load(id) == Loaded::kShown) emit changed();
}

void Inbox::SaveState()
{
    if (!state_.Save()) qWarning("vindrel-inbox: cannot save which messages were read");
}

}  // namespace vindrel
