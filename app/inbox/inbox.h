// The messages one user sees: the spool's records, watched for new ones,
// with this user's read and deleted state.
#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/inbox/read_state.h"
#include "receive/spool_record.h"

namespace vindrel {

struct InboxMessage {
    QString id;  // the record's file name in the spool
    QString from;
    QString to;
    QString text;  // lines end in LF
    qint64 received_ms = 0;
    bool read = false;
    bool datagram = false;  // nothing confirmed who sent it
};

// Beside the sender of a message that came as a datagram.
inline constexpr char kDatagramNote[] = "(datagram: unconfirmed sender)";

// The date and time of `ms` in the user's locale and time zone.
QString LocalTimeText(qint64 received_ms);

class Inbox : public QObject {
    Q_OBJECT

public:
    // The spool never holds more than this many records when its writers
    // keep to its limits; anything past it is not read.
    static constexpr std::size_t kMaxRecords = 1000;

    // Loads the spool's newest `max_records` records at once; arrivals are
    // reported from Start().
    Inbox(QString spool, QString state_file, QObject* parent = nullptr,
          std::size_t max_records = kMaxRecords);

    // Starts watching. Messages already unread are announced as arrivals,
    // the newest kStartupArrivals of them, so a message that came while the
    // user was away still shows without a flood of windows.
    void Start();

    // Newest first, without this user's deleted ones.
    const std::vector<InboxMessage>& Messages() const { return messages_; }
    const InboxMessage* Find(const QString& id) const;
    int UnreadCount() const;
    // Refusals counted in the spool, as the drop recorded them.
    std::uint64_t RefusedCount() const { return refused_; }
    // Messages removed to make room for others', as the writers recorded them.
    std::uint64_t ReplacedCount() const { return replaced_; }
    // Records at the last look past the newest max_records, left unread.
    std::size_t IgnoredCount() const { return ignored_; }

    void SetRead(const QString& id, bool read);
    // Hides the message from this user for good, unless Undelete brings it
    // back while its record is still in the spool.
    // Takes `id` by value: it may be the deleted message's own.
    void Delete(QString id);
    void Undelete(const QString& id);

    // Looks at the spool again now. A listing that fails changes nothing.
    void Rescan();

    static constexpr int kStartupArrivals = 5;
    // How often a spool that cannot be watched is looked at.
    static constexpr int kPollMs = 2000;
    // A burst of changes is looked at no more often than this many times
    // the last look's own cost, so a flood cannot keep the inbox busy.
    static constexpr int kRescanSpacing = 4;

signals:
    // A message this user has not read came into the spool.
    void arrived(const QString& id);
    // The list or a read state changed.
    void changed();
    // `count` more messages were refused because the spool was full.
    void refusedMore(quint64 count);

private:
    enum class Loaded { kShown, kSkipped, kRetry };
    Loaded Load(const QString& id);
    // Reads the spool's newest records not read yet; those unread by this
    // user go to `announced`. False, with nothing changed, when the spool
    // could not be listed.
    bool LoadSpool(QStringList& announced, bool* changed = nullptr);
    void ScheduleRescan();
    void KeepWatching();
    void SaveState();

    QString spool_;
    std::size_t max_records_;
    ReadState state_;
    std::vector<InboxMessage> messages_;
    QSet<QString> seen_;  // names among the newest looked at, good or not
    std::uint64_t refused_ = 0;
    std::uint64_t replaced_ = 0;
    std::size_t ignored_ = 0;
    bool listing_failed_ = false;
    bool started_ = false;
    QFileSystemWatcher watcher_;
    QTimer poll_;
    QTimer soon_;  // the next look after a change
    QElapsedTimer since_rescan_;
    qint64 rescan_cost_ms_ = 0;
};

}  // namespace vindrel
