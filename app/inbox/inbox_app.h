// vindrel-inbox as a whole: the inbox, a pop-up for each arrival, the
// history window, the tray icon where the desktop has a tray, and reply
// boxes that send through the core.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "app/inbox/history_window.h"
#include "app/inbox/inbox.h"
#include "app/inbox/message_popup.h"
#include "core/dispatch.h"

class QSystemTrayIcon;
class QTimer;

namespace vindrel {

class ReplyBox;

class InboxApp : public QObject {
    Q_OBJECT

public:
    // `bindings` carry every reply; `state_file` is this user's read state.
    InboxApp(QString spool, QString state_file, Bindings bindings, QObject* parent = nullptr);
    ~InboxApp() override;

    // Starts watching; pop-ups for messages still unread.
    void Start();
    // `activate` false shows it without taking the keyboard focus.
    void ShowHistory(bool activate = true);
    ReplyBox* OpenReply(const QString& id);

    Inbox& inbox() { return inbox_; }
    HistoryWindow* history() const { return history_; }
    QList<MessagePopup*> Popups() const;
    QSystemTrayIcon* tray() const { return tray_; }

    // Pop-ups open at once at most; a flood goes to the history instead.
    static constexpr int kMaxPopups = 10;

private:
    void ShowPopup(const QString& id);
    void Trace(const MessagePopup& popup) const;
    void ShowRefusals(quint64 count);
    void MakeTrayWhenAvailable();
    void UpdateTray();

    Inbox inbox_;
    Bindings bindings_;
    QList<QPointer<MessagePopup>> popups_;
    QPointer<HistoryWindow> history_;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* tray_wait_ = nullptr;
    QString trace_file_;
};

}  // namespace vindrel
