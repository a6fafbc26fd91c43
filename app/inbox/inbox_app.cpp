// vindrel-inbox's windows, notifications and tray icon.
#include "app/inbox/inbox_app.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <utility>

#include "app/inbox/desktop_notifications.h"
#include "app/inbox/history_window.h"
#include "app/inbox/inbox_observer.h"
#include "app/inbox/lan_text.h"
#include "app/inbox/message_popup.h"
#include "app/inbox/name_registration.h"
#include "app/inbox/reply_box.h"
#include "app/inbox/reply_send.h"
#include "app/inbox/reply_target.h"
#include "app/inbox/status_notifier_item.h"

namespace vindrel {
namespace {

// Pop-ups step down and left from the top right corner, so each shows.
constexpr int kPopupStep = 28;

// Kept in $XDG_CONFIG_HOME/vindrel/inbox.ini.
constexpr char kShowAsKey[] = "show messages as";

QSettings Settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("vindrel"),
                     QStringLiteral("inbox"));
}

ShowAs StoredShowAs()
{
    return Settings().value(kShowAsKey, QStringLiteral("notifications")).toString() ==
                   QLatin1String("windows")
               ? ShowAs::kWindows
               : ShowAs::kNotifications;
}

bool OnWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// The window icon with the unread count on it, for trays that show no tooltip.
QIcon CountedIcon(int unread)
{
    const QIcon base = QGuiApplication::windowIcon();
    if (unread == 0) return base;
    QPixmap pixmap = base.pixmap(32, 32);
    if (pixmap.isNull()) pixmap = QPixmap(32, 32);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF badge(12, 12, 20, 20);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 30, 30));
    painter.drawEllipse(badge);
    QFont font = painter.font();
    font.setPixelSize(unread > 99 ? 9 : 13);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(badge, Qt::AlignCenter, unread > 99 ? QStringLiteral("99+")
                                                         : QString::number(unread));
    painter.end();
    return QIcon(pixmap);
}

// How many are unread, in the tray's tooltip.
QString UnreadWords(int unread)
{
    return unread == 0   ? QStringLiteral("no unread messages")
           : unread == 1 ? QStringLiteral("1 unread message")
                         : QStringLiteral("%1 unread messages").arg(unread);
}

// The summary's words: messages past the limit, or those still unread when
// a restarted service has shown none of them.
QString SummaryNotice(int count, bool after_restart)
{
    if (after_restart)
        return count == 1 ? QStringLiteral("1 unread message")
                          : QStringLiteral("%1 unread messages").arg(count);
    return count == 1 ? QStringLiteral("1 more message")
                      : QStringLiteral("%1 more messages").arg(count);
}

// Told nothing, for a program that wants nothing told.
InboxObserver& NoObserver()
{
    static InboxObserver none;
    return none;
}

}  // namespace

InboxApp::InboxApp(QString spool, QString state_file, Bindings bindings, QObject* parent,
                   std::size_t max_records)
    : QObject(parent),
      inbox_(std::move(spool), std::move(state_file), nullptr, max_records),
      bindings_(std::move(bindings)),
      show_as_(StoredShowAs()),
      notifications_(new DesktopNotifications(this)),
      observer_(&NoObserver())
{
    connect(&inbox_, &Inbox::arrived, this, &InboxApp::ShowArrival);
    connect(&inbox_, &Inbox::changed, this, &InboxApp::UpdateTray);
    connect(&inbox_, &Inbox::changed, this, &InboxApp::ForgetAnnounced);
    connect(&inbox_, &Inbox::refusedMore, this, &InboxApp::ShowRefusals);
    connect(notifications_, &DesktopNotifications::actionInvoked, this, &InboxApp::OnAction);
    connect(notifications_, &DesktopNotifications::replied, this, &InboxApp::SendInlineReply);
    connect(notifications_, &DesktopNotifications::closed, this, [this](quint32 id) {
        // Closed is not read: the message stays unread in the history and
        // the tray count, whatever the service did with it.
        notified_.remove(id);
        if (id == refusal_notification_) refusal_notification_ = 0;
        if (id == summary_notification_) {
            // Dismissed: what it counted has been announced.
            summary_notification_ = 0;
            summarized_.clear();
            summary_after_restart_ = false;
        }
    });
    connect(notifications_, &DesktopNotifications::serviceGone, this, [this] {
        notified_.clear();
        refusal_notification_ = 0;
        summary_notification_ = 0;
    });
    connect(notifications_, &DesktopNotifications::serviceBack, this, [this] {
        // A new service shows none of the old one's notices: what is still
        // unread is announced again, at once.
        if (show_as_ != ShowAs::kNotifications || inbox_.UnreadCount() == 0) return;
        summarized_.clear();
        for (const InboxMessage& message : inbox_.Messages())
            if (!message.read && !muted_.Contains(message.from)) summarized_.insert(message.id);
        if (summarized_.isEmpty()) return;
        summary_after_restart_ = true;
        ShowSummary();
    });
}

InboxApp::~InboxApp()
{
    // Their buttons would do nothing once the program has gone.
    QList<quint32> ours = notified_.keys();
    ours << summary_notification_ << refusal_notification_;
    notifications_->CloseNow(ours);
    for (const auto& popup : popups_) delete popup.data();
    delete history_.data();
    delete refusal_box_.data();
    delete tray_;
    delete tray_menu_;
}

void InboxApp::RegisterWith(const QString& socket_path)
{
    if (registration_ || !bindings_.login_name) return;
    registration_ =
        new NameRegistration(socket_path, QString::fromStdU16String(bindings_.login_name()), this);
    connect(registration_, &NameRegistration::changed, this, &InboxApp::UpdateStatus);
}

void InboxApp::SetObserver(InboxObserver* observer)
{
    observer_ = observer ? observer : &NoObserver();
}

void InboxApp::Start()
{
    // Qt's tray only where no panel takes the inbox's own item.
    if (notifications_->Connected()) {
        MakeStatusNotifierItem();
    } else {
        MakeTrayWhenAvailable();
    }
    if (registration_) registration_->Start();
    inbox_.Start();
}

void InboxApp::SetShowAs(ShowAs show_as)
{
    show_as_ = show_as;
    Settings().setValue(kShowAsKey, show_as == ShowAs::kWindows
                                         ? QStringLiteral("windows")
                                         : QStringLiteral("notifications"));
    no_service_ = false;
    if (history_) history_->SetShowAs(show_as, ShownAs());
    if (tray_) UpdateTray();
}

QString InboxApp::StatusText() const
{
    return registration_ ? registration_->StatusText() : QString();
}

QList<MessagePopup*> InboxApp::Popups() const
{
    QList<MessagePopup*> open;
    for (const auto& popup : popups_)
        if (popup) open.append(popup.data());
    return open;
}

int InboxApp::OpenCount() const
{
    return static_cast<int>(Popups().size() + notified_.size()) + notifying_;
}

void InboxApp::ShowArrival(const QString& id)
{
    const InboxMessage* message = inbox_.Find(id);
    if (!message || paused_ || muted_.Contains(message->from)) return;
    const bool notify = show_as_ == ShowAs::kNotifications && notifications_->Connected();
    // The desktop's "do not disturb" holds for windows too; the message
    // waits in the history and the tray's count.
    if (!notify && notifications_->Inhibited()) return;
    popups_.removeAll(nullptr);
    if (OpenCount() >= kMaxPopups) {
        // Anyone can send: a burst must not bury the desktop, nor go unsaid.
        summarized_.insert(id);
        ShowSummary();
        return;
    }
    if (notify) {
        Notify(id);
    } else {
        ShowPopup(id);
    }
}

void InboxApp::ForgetAnnounced()
{
    // A message read in the history needs its notification no more.
    for (auto it = notified_.begin(); it != notified_.end();) {
        const InboxMessage* message = inbox_.Find(it.value());
        if (message && !message->read) {
            ++it;
            continue;
        }
        notifications_->Close(it.key());
        it = notified_.erase(it);
    }
    const auto before = summarized_.size();
    summarized_.removeIf([this](const QString& id) {
        const InboxMessage* message = inbox_.Find(id);
        return !message || message->read;
    });
    if (summarized_.size() != before) ShowSummary();
}

void InboxApp::ShowSummary()
{
    const int count = static_cast<int>(summarized_.size());
    if (count == 0) {
        notifications_->Close(std::exchange(summary_notification_, 0));
        if (summary_box_) summary_box_->close();
        summary_after_restart_ = false;
        return;
    }
    if (!summary_box_ && show_as_ == ShowAs::kNotifications && notifications_->Connected()) {
        NotifySummary();
    } else {
        ShowSummaryBox();
    }
}

void InboxApp::ShowSummaryBox()
{
    if (!summary_box_) {
        summary_box_ = new QMessageBox(QMessageBox::Information, QStringLiteral("Vindrel"),
                                       QString(), QMessageBox::NoButton);
        summary_box_->setObjectName(QStringLiteral("summary"));
        summary_box_->setTextFormat(Qt::PlainText);
        if (!OnWayland()) summary_box_->setWindowFlag(Qt::WindowStaysOnTopHint);
        summary_box_->setAttribute(Qt::WA_ShowWithoutActivating);
        summary_box_->setAttribute(Qt::WA_DeleteOnClose);
        summary_box_->setModal(false);
        QPushButton* show =
            summary_box_->addButton(QStringLiteral("&Show"), QMessageBox::AcceptRole);
        summary_box_->addButton(QMessageBox::Close);
        connect(show, &QPushButton::clicked, this, [this] { ShowHistory(); });
        connect(summary_box_, &QObject::destroyed, this, [this] {
            summarized_.clear();
            summary_after_restart_ = false;
        });
    }
    summary_box_->setText(
        SummaryNotice(static_cast<int>(summarized_.size()), summary_after_restart_));
    summary_box_->show();
}

void InboxApp::NotifySummary()
{
    if (summary_pending_) return;  // sent again with the new count once answered
    summary_pending_ = true;
    const int count = static_cast<int>(summarized_.size());
    DesktopNotifications::Notice notice;
    notice.summary = QStringLiteral("Vindrel");
    notice.body = SummaryNotice(count, summary_after_restart_);
    notice.replaces = summary_notification_;
    notifications_->Show(notice, [this, count](quint32 id) {
        summary_pending_ = false;
        summary_notification_ = id;
        observer_->SummaryNotified(id, count);
        if (id == 0) {
            if (!summarized_.isEmpty()) ShowSummaryBox();  // no service after all
        } else if (static_cast<int>(summarized_.size()) != count) {
            ShowSummary();  // the count moved meanwhile
        }
    });
}

void InboxApp::Notify(const QString& id)
{
    const InboxMessage* message = inbox_.Find(id);
    const ReplyRefusal refusal = ReplyRefusalFor(message->from);
    DesktopNotifications::Notice notice{
        MessageTitle(message->from), IsolatedText(ShownText(message->text)), 0,
        refusal == ReplyRefusal::kNone,
        QStringLiteral("Reply to %1").arg(IsolatedName(message->from)), true};
    // No Reply button: the reason where it would have been.
    if (refusal != ReplyRefusal::kNone) notice.body += QLatin1Char('\n') + ReplyRefusalText(refusal);
    ++notifying_;
    notifications_->Show(notice, [this, id, notice](quint32 notification) {
        --notifying_;
        SetNoService(notification == 0);
        if (notification == 0) {
            // No service, or none that answered: the window instead.
            ShowPopup(id);
            return;
        }
        notified_.insert(notification, id);
        observer_->NotificationShown(notification, notice.summary, notice.body);
    });
}

void InboxApp::ShowPopup(const QString& id)
{
    const InboxMessage* message = inbox_.Find(id);
    if (!message) return;
    popups_.removeAll(nullptr);
    if (OpenCount() >= kMaxPopups) {
        summarized_.insert(id);
        ShowSummary();
        return;
    }
    auto* popup = new MessagePopup(*message);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    connect(popup, &MessagePopup::dismissed, this,
            [this](const QString& seen) { inbox_.SetRead(seen, true); });
    connect(popup, &MessagePopup::replyRequested, this, &InboxApp::OpenReply);
    connect(popup, &MessagePopup::muteRequested, this, &InboxApp::MuteSender);
    popup->adjustSize();
    const QScreen* screen = QGuiApplication::primaryScreen();
    // Wayland places windows itself.
    if (screen && !OnWayland()) {
        const QRect area = screen->availableGeometry();
        const int step = kPopupStep * static_cast<int>(popups_.size() % 8);
        popup->move(area.right() - popup->frameGeometry().width() - 16 - step,
                    area.top() + 16 + step);
    }
    popups_.append(popup);
    popup->show();
    observer_->PopupShown(*popup);
}

void InboxApp::OnAction(quint32 notification, const QString& action)
{
    const QString token = notifications_->TakeActivationToken(notification);
    if (notification != 0 &&
        (notification == summary_notification_ || notification == refusal_notification_)) {
        ShowHistory(true, token);
        return;
    }
    // Other programs' notifications are not ours to act on.
    const QString id = notified_.value(notification);
    if (id.isEmpty()) return;
    if (action == QLatin1String("default")) {
        ShowHistory(true, token);
        history_->Select(id);
    } else if (action == QLatin1String("reply")) {
        OpenReply(id);
    } else if (action == QLatin1String("mute")) {
        MuteSender(id);
        notifications_->Close(notification);
    }
}

void InboxApp::SendInlineReply(quint32 notification, const QString& text)
{
    const InboxMessage* message = inbox_.Find(notified_.value(notification));
    if (!message) return;
    inbox_.SetRead(message->id, true);
    if (const ReplyRefusal refusal = ReplyRefusalFor(message->from);
        refusal != ReplyRefusal::kNone) {
        // Offered to nobody, but a service may send it anyway.
        qWarning("vindrel-inbox: a quick reply to \"%s\" refused: %s",
                 qPrintable(VisibleControls(message->from)),
                 qPrintable(ReplyRefusalText(refusal)));
        return;
    }
    // A send can take seconds: off the window thread, its outcome back on it.
    replies_.start([this, to = message->from, text, bindings = bindings_] {
        const ReplyResult result = SendReply(to.toStdU16String(), text.toStdU16String(), bindings);
        QMetaObject::invokeMethod(
            this, [this, to, text, result] { InlineReplyDone(to, text, result); },
            Qt::QueuedConnection);
    });
}

void InboxApp::InlineReplyDone(const QString& to, const QString& text, const ReplyResult& result)
{
    emit inlineReplyDone(to, result.Delivered());
    if (result.notice.empty()) return;
    // Not delivered: the typed text in a reply box, the reason over it, so
    // the user loses nothing and can send it again.
    auto* box = new ReplyBox(to, bindings_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->message()->setPlainText(text);
    box->show();
    auto* why = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vindrel"),
                                QString::fromStdU16String(result.notice), QMessageBox::Ok, box);
    why->setTextFormat(Qt::PlainText);
    why->setAttribute(Qt::WA_DeleteOnClose);
    why->show();
}

void InboxApp::SetPaused(bool paused)
{
    paused_ = paused;
    if (history_) history_->SetPaused(paused);
}

ShowAs InboxApp::ShownAs() const
{
    return show_as_ == ShowAs::kNotifications && (no_service_ || !notifications_->Connected())
               ? ShowAs::kWindows
               : show_as_;
}

void InboxApp::SetNoService(bool none)
{
    if (none == no_service_) return;
    no_service_ = none;
    if (history_) history_->SetShowAs(show_as_, ShownAs());
}

void InboxApp::ShowHistory(bool activate, const QString& token)
{
    if (!history_) {
        history_ = new HistoryWindow(inbox_);
        history_->setAttribute(Qt::WA_DeleteOnClose);
        history_->SetShowAs(show_as_, ShownAs());
        history_->SetPaused(paused_);
        history_->SetStatus(StatusText());
        connect(history_, &HistoryWindow::pauseChosen, this, &InboxApp::SetPaused);
        connect(history_, &HistoryWindow::replyRequested, this, &InboxApp::OpenReply);
        connect(history_, &HistoryWindow::showAsChosen, this, &InboxApp::SetShowAs);
        connect(history_, &HistoryWindow::muteRequested, this, &InboxApp::MuteSender);
        connect(history_, &HistoryWindow::mutedListRequested, this, &InboxApp::EditMuted);
    }
    history_->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    const bool shown = history_->isVisible();
    history_->show();
    if (!shown) observer_->HistoryShown(*history_);
    if (!activate) return;
    if (OnWayland()) {
        // Wayland gives the focus to the window the user chose, not to a
        // program: only with the token of the user's act.
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
        if (token.isEmpty()) return;
        qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
        history_->windowHandle()->requestActivate();
#else
        Q_UNUSED(token);
#endif
        return;
    }
    history_->raise();
    history_->activateWindow();
}

ReplyBox* InboxApp::OpenReply(const QString& id)
{
    const InboxMessage* message = inbox_.Find(id);
    if (!message) return nullptr;
    inbox_.SetRead(id, true);
    ReplyRefusal refusal;
    const std::u16string to = ReplyRecipient(message->from.toStdU16String(), refusal);
    if (refusal != ReplyRefusal::kNone) return nullptr;  // its Reply is not offered
    auto* box = new ReplyBox(QString::fromStdU16String(to), bindings_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    if (!OnWayland()) box->activateWindow();
    return box;
}

void InboxApp::MuteSender(const QString& id)
{
    if (const InboxMessage* message = inbox_.Find(id)) muted_.Add(message->from);
}

MutedSendersDialog* InboxApp::EditMuted()
{
    if (!muted_dialog_) {
        muted_dialog_ = new MutedSendersDialog(muted_, history_);
        muted_dialog_->setAttribute(Qt::WA_DeleteOnClose);
    }
    muted_dialog_->show();
    muted_dialog_->raise();
    return muted_dialog_;
}

void InboxApp::ShowRefusals(quint64 count)
{
    // One notice, its count brought up to date, however many refusals come.
    const bool open = refusal_box_ || refusal_notification_ != 0 || refusal_pending_;
    refusals_shown_ = open ? refusals_shown_ + count : count;
    if (!refusal_box_ && show_as_ == ShowAs::kNotifications && notifications_->Connected()) {
        NotifyRefusals();
    } else {
        ShowRefusalBox();
    }
}

void InboxApp::ShowRefusalBox()
{
    if (!refusal_box_) {
        refusal_box_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vindrel"), QString(),
                                       QMessageBox::Ok);
        refusal_box_->setTextFormat(Qt::PlainText);
        if (!OnWayland()) refusal_box_->setWindowFlag(Qt::WindowStaysOnTopHint);
        refusal_box_->setAttribute(Qt::WA_ShowWithoutActivating);
        refusal_box_->setAttribute(Qt::WA_DeleteOnClose);
        refusal_box_->setModal(false);
    }
    refusal_box_->setText(RefusalNotice(refusals_shown_));
    refusal_box_->show();
}

void InboxApp::NotifyRefusals()
{
    if (refusal_pending_) return;  // sent again with the new count once answered
    refusal_pending_ = true;
    const quint64 count = refusals_shown_;
    DesktopNotifications::Notice notice;
    notice.summary = QStringLiteral("Vindrel");
    notice.body = RefusalNotice(count);
    notice.replaces = refusal_notification_;
    notifications_->Show(notice, [this, count](quint32 id) {
        refusal_pending_ = false;
        refusal_notification_ = id;
        if (id == 0) {
            ShowRefusalBox();
        } else if (refusals_shown_ != count) {
            NotifyRefusals();
        }
    });
}

QMenu* InboxApp::TrayMenu()
{
    if (tray_menu_) return tray_menu_;
    auto* menu = tray_menu_ = new QMenu;
    connect(menu->addAction(QStringLiteral("Show messages")), &QAction::triggered, this,
            [this] { ShowHistory(); });
    QMenu* as = menu->addMenu(QStringLiteral("Show messages as"));
    auto* choices = new QActionGroup(as);
    for (const auto& option : {std::pair(ShowAs::kNotifications, QStringLiteral("Notifications")),
                               std::pair(ShowAs::kWindows, QStringLiteral("Windows"))}) {
        QAction* choice = as->addAction(option.second);
        choice->setCheckable(true);
        choice->setData(static_cast<int>(option.first));
        choices->addAction(choice);
        const ShowAs show_as = option.first;
        connect(choice, &QAction::triggered, this, [this, show_as] { SetShowAs(show_as); });
    }
    connect(menu, &QMenu::aboutToShow, this, [this, choices] {
        for (QAction* choice : choices->actions())
            choice->setChecked(choice->data().toInt() == static_cast<int>(show_as_));
    });
    QAction* pause = menu->addAction(QStringLiteral("Pause pop-ups"));
    pause->setCheckable(true);
    connect(pause, &QAction::toggled, this, &InboxApp::SetPaused);
    connect(menu, &QMenu::aboutToShow, pause, [this, pause] { pause->setChecked(paused_); });
    connect(menu->addAction(QStringLiteral("Quit")), &QAction::triggered, qApp,
            &QCoreApplication::quit);
    return menu;
}

void InboxApp::MakeStatusNotifierItem()
{
    item_ = new StatusNotifierItem(TrayMenu(), QGuiApplication::windowIcon(), this);
    connect(item_, &StatusNotifierItem::activated, this,
            [this](const QString& token) { ShowHistory(true, token); });
    connect(item_, &StatusNotifierItem::shownChanged, this, [this](bool shown) {
        if (!shown) {
            MakeTrayWhenAvailable();
            return;
        }
        // A panel came up after Qt's icon was made: one item, ours.
        if (tray_wait_) tray_wait_->stop();
        delete std::exchange(tray_, nullptr);
    });
    UpdateTray();
}

void InboxApp::MakeTrayWhenAvailable()
{
    if (tray_ || (item_ && item_->Shown())) return;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // A panel started after this program brings its tray later.
        if (!tray_wait_) {
            tray_wait_ = new QTimer(this);
            connect(tray_wait_, &QTimer::timeout, this, &InboxApp::MakeTrayWhenAvailable);
        }
        if (!tray_wait_->isActive()) tray_wait_->start(10'000);
        return;
    }
    if (tray_wait_) tray_wait_->stop();
    tray_ = new QSystemTrayIcon(QGuiApplication::windowIcon(), this);
    tray_->setContextMenu(TrayMenu());
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
                    ShowHistory();
            });
    UpdateTray();
    tray_->show();
}

void InboxApp::UpdateTray()
{
    if (!tray_ && !item_) return;
    const int unread = inbox_.UnreadCount();
    QString tip = UnreadWords(unread);
    if (const QString status = StatusText(); !status.isEmpty())
        tip += QLatin1Char('\n') + status;
    if (item_) {
        // The item's tooltip has "Vindrel" for its title.
        item_->SetToolTip(tip);
        item_->SetNeedsAttention(unread > 0, CountedIcon(unread));
    }
    if (tray_) {
        tray_->setToolTip(QStringLiteral("Vindrel: ") + tip);
        tray_->setIcon(CountedIcon(unread));
    }
}

void InboxApp::UpdateStatus()
{
    if (history_) history_->SetStatus(StatusText());
    UpdateTray();
}

}  // namespace vindrel
