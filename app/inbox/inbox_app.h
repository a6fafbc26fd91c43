// vindrel-inbox as a whole: the inbox; each arrival as a desktop
// notification or a pop-up window; the history window; the tray icon where
// the desktop has a tray; reply boxes that send through the core; and the
// login name registered with the messenger service where there is one.
#pragma once

#include <QHash>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include "app/inbox/history_window.h"
#include "app/inbox/inbox.h"
#include "app/inbox/message_popup.h"
#include "app/inbox/muted_senders.h"
#include "core/dispatch.h"

class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace vindrel {

class DesktopNotifications;
class InboxObserver;
class NameRegistration;
class ReplyBox;
class StatusNotifierItem;
struct ReplyResult;

class InboxApp : public QObject {
    Q_OBJECT

public:
    // `bindings` carry every reply; `state_file` is this user's read state.
    InboxApp(QString spool, QString state_file, Bindings bindings, QObject* parent = nullptr,
             std::size_t max_records = Inbox::kMaxRecords);
    ~InboxApp() override;

    // Registers the user's login name with the messenger service listening
    // at `socket_path`, from Start() on.
    void RegisterWith(const QString& socket_path);
    // Told what is shown from then on; nullptr for nobody. It must outlive
    // this.
    void SetObserver(InboxObserver* observer);
    // Starts watching; messages still unread are shown.
    void Start();
    // `activate` false shows it without taking the keyboard focus. On
    // Wayland the window is raised only with the desktop's activation
    // `token` (xdg-activation), and only where Qt can pass it on (6.5 on).
    void ShowHistory(bool activate = true, const QString& token = {});
    // Paused, nothing is announced; messages are kept, unread, as ever.
    void SetPaused(bool paused);
    bool paused() const { return paused_; }
    ReplyBox* OpenReply(const QString& id);
    // Later messages from the sender of `id` are kept but not announced.
    void MuteSender(const QString& id);
    MutedSendersDialog* EditMuted();
    MutedSenders& muted() { return muted_; }

    // How arrivals show: the user's choice, kept in the user's configuration.
    // Notifications need the desktop's service; without it, windows.
    ShowAs show_as() const { return show_as_; }
    void SetShowAs(ShowAs show_as);

    Inbox& inbox() { return inbox_; }
    HistoryWindow* history() const { return history_; }
    QList<MessagePopup*> Popups() const;
    // The one notice for messages refused while the spool was full.
    QMessageBox* RefusalBox() const { return refusal_box_; }
    // Qt's tray icon, where the desktop has a tray but no StatusNotifierItem
    // host to take the inbox's own item.
    QSystemTrayIcon* tray() const { return tray_; }
    // The line on the tray's tooltip and the history about this computer.
    QString StatusText() const;

    // How arrivals are shown at the moment: windows where notifications
    // were chosen but no service took them.
    ShowAs ShownAs() const;

    // The one notice for messages past the ten open at once, when shown
    // as a window.
    QMessageBox* SummaryBox() const { return summary_box_; }

    // Pop-ups and notifications open at once at most; the rest of a flood
    // is announced by one summary, kept up to date.
    static constexpr int kMaxPopups = 10;

signals:
    // A reply typed into a notification has been sent, or not.
    void inlineReplyDone(const QString& to, bool delivered);

private:
    void ShowArrival(const QString& id);
    void ShowPopup(const QString& id);
    void Notify(const QString& id);
    int OpenCount() const;
    void OnAction(quint32 notification, const QString& action);
    void SendInlineReply(quint32 notification, const QString& text);
    void InlineReplyDone(const QString& to, const QString& text, const ReplyResult& result);
    void ShowRefusals(quint64 count);
    void ShowRefusalBox();
    void NotifyRefusals();
    void SetNoService(bool none);
    void ShowSummary();
    void ShowSummaryBox();
    void NotifySummary();
    void ForgetAnnounced();
    QMenu* TrayMenu();
    void MakeStatusNotifierItem();
    void MakeTrayWhenAvailable();
    void UpdateTray();
    void UpdateStatus();

    Inbox inbox_;
    bool paused_ = false;
    bool no_service_ = false;  // the last notice fell back to a window
    MutedSenders muted_;
    QPointer<MutedSendersDialog> muted_dialog_;
    Bindings bindings_;
    ShowAs show_as_;
    DesktopNotifications* notifications_;
    // Notifications shown: the service's id to the message's.
    QHash<quint32, QString> notified_;
    int notifying_ = 0;  // asked for, not answered yet
    QList<QPointer<MessagePopup>> popups_;
    QPointer<HistoryWindow> history_;
    QPointer<QMessageBox> refusal_box_;
    quint64 refusals_shown_ = 0;  // counted in the notice still open
    quint32 refusal_notification_ = 0;
    bool refusal_pending_ = false;  // a refusal notice asked for, not answered yet
    // Unread messages announced only by the summary, and how it says so.
    QSet<QString> summarized_;
    bool summary_after_restart_ = false;
    quint32 summary_notification_ = 0;
    bool summary_pending_ = false;
    QPointer<QMessageBox> summary_box_;
    NameRegistration* registration_ = nullptr;
    QMenu* tray_menu_ = nullptr;
    StatusNotifierItem* item_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* tray_wait_ = nullptr;
    InboxObserver* observer_;  // never null: the null observer when none is set
    // Replies being sent; last, so that it waits for them before the rest goes.
    QThreadPool replies_;
};

}  // namespace vindrel
