// The messages one user sees: the spool's records, watched for new ones,
// with this user's read and deleted state.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "app/inbox/read_state.h"
#include "app/spool/spool_record.h"

namespace vindrel {

struct InboxMessage {
    QString id;  // the record's file name in the spool
    QString from;
    QString to;
    QString text;  // lines end in LF
    qint64 received_ms = 0;
    bool read = false;
};

// The date and time of `ms` in the user's locale and time zone.
QString LocalTimeText(qint64 received_ms);

class Inbox : public QObject {
    Q_OBJECT

public:
    // Loads the spool's records at once; arrivals are reported from Start().
    Inbox(QString spool, QString state_file, QObject* parent = nullptr);

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

    void SetRead(const QString& id, bool read);
    // Hides the message from this user for good.
    void Delete(const QString& id);

    // Looks at the spool again; the watcher and the safety poll call it.
    void Rescan();

    static constexpr int kStartupArrivals = 5;
    static constexpr int kPollMs = 2000;

signals:
    // A message this user has not read came into the spool.
    void arrived(const QString& id);
    // The list or a read state changed.
    void changed();
    // `count` more messages were refused because the spool was full.
    void refusedMore(quint64 count);

private:
    void Load(const QString& id, bool announce, QStringList& announced);
    void SaveState();

    QString spool_;
    ReadState state_;
    std::vector<InboxMessage> messages_;
    QSet<QString> seen_;  // every record name looked at, good or not
    std::uint64_t refused_ = 0;
    QFileSystemWatcher watcher_;
    QTimer poll_;
};

}  // namespace vindrel
