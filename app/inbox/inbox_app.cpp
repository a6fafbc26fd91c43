// vindrel-inbox's windows and tray icon.
#include "app/inbox/inbox_app.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTextDocument>
#include <QTimer>
#include <chrono>
#include <utility>

#include "app/inbox/history_window.h"
#include "app/inbox/message_popup.h"
#include "app/inbox/reply_box.h"

namespace vindrel {
namespace {

// Pop-ups step down and left from the top right corner, so each shows.
constexpr int kPopupStep = 28;

}  // namespace

InboxApp::InboxApp(QString spool, QString state_file, Bindings bindings, QObject* parent)
    : QObject(parent),
      inbox_(std::move(spool), std::move(state_file)),
      bindings_(std::move(bindings)),
      // A record of every pop-up shown, for the end-to-end test and the
      // benchmark, which cannot read an X window's text.
      trace_file_(qEnvironmentVariable("VINDREL_INBOX_TRACE"))
{
    connect(&inbox_, &Inbox::arrived, this, &InboxApp::ShowPopup);
    connect(&inbox_, &Inbox::changed, this, &InboxApp::UpdateTray);
    connect(&inbox_, &Inbox::refusedMore, this, &InboxApp::ShowRefusals);
}

InboxApp::~InboxApp()
{
    for (const auto& popup : popups_) delete popup.data();
    delete history_.data();
}

void InboxApp::Start()
{
    MakeTrayWhenAvailable();
    inbox_.Start();
}

QList<MessagePopup*> InboxApp::Popups() const
{
    QList<MessagePopup*> open;
    for (const auto& popup : popups_)
        if (popup) open.append(popup.data());
    return open;
}

void InboxApp::ShowPopup(const QString& id)
{
    const InboxMessage* message = inbox_.Find(id);
    if (!message) return;
    popups_.removeAll(nullptr);
    if (popups_.size() >= kMaxPopups) {
        // Anyone can send: a burst must not bury the desktop in windows.
        ShowHistory(false);
        return;
    }
    auto* popup = new MessagePopup(*message);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    connect(popup, &MessagePopup::dismissed, this,
            [this](const QString& seen) { inbox_.SetRead(seen, true); });
    connect(popup, &MessagePopup::replyRequested, this, &InboxApp::OpenReply);
    popup->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const int step = kPopupStep * static_cast<int>(popups_.size() % 8);
        popup->move(area.right() - popup->frameGeometry().width() - 16 - step,
                    area.top() + 16 + step);
    }
    popups_.append(popup);
    popup->show();
    Trace(*popup);
}

void InboxApp::Trace(const MessagePopup& popup) const
{
    if (trace_file_.isEmpty()) return;
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    // The raw text keeps every character as shown; blocks end in U+2029.
    QString text = popup.text()->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    const QJsonObject line{
        {QStringLiteral("shown_ns"),
         static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count())},
        {QStringLiteral("title"), popup.windowTitle()},
        {QStringLiteral("heading"), popup.heading()->text()},
        {QStringLiteral("text"), text},
    };
    QFile out(trace_file_);
    if (out.open(QIODevice::Append))
        out.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + "\n");
}

void InboxApp::ShowHistory(bool activate)
{
    if (!history_) {
        history_ = new HistoryWindow(inbox_);
        history_->setAttribute(Qt::WA_DeleteOnClose);
        connect(history_, &HistoryWindow::replyRequested, this, &InboxApp::OpenReply);
    }
    history_->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    history_->show();
    if (!activate) return;
    history_->raise();
    history_->activateWindow();
}

ReplyBox* InboxApp::OpenReply(const QString& id)
{
    const InboxMessage* message = inbox_.Find(id);
    if (!message) return nullptr;
    inbox_.SetRead(id, true);
    auto* box = new ReplyBox(message->from, bindings_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
    box->activateWindow();
    return box;
}

void InboxApp::ShowRefusals(quint64 count)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vindrel"),
                                RefusalNotice(count), QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    box->setAttribute(Qt::WA_ShowWithoutActivating);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void InboxApp::MakeTrayWhenAvailable()
{
    if (tray_) return;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // A panel started after this program brings its tray later.
        if (!tray_wait_) {
            tray_wait_ = new QTimer(this);
            connect(tray_wait_, &QTimer::timeout, this, &InboxApp::MakeTrayWhenAvailable);
            tray_wait_->start(10'000);
        }
        return;
    }
    if (tray_wait_) tray_wait_->stop();
    tray_ = new QSystemTrayIcon(QGuiApplication::windowIcon(), this);
    auto* menu = new QMenu;
    connect(tray_, &QObject::destroyed, menu, &QObject::deleteLater);
    connect(menu->addAction(QStringLiteral("Show messages")), &QAction::triggered, this,
            &InboxApp::ShowHistory);
    connect(menu->addAction(QStringLiteral("Quit")), &QAction::triggered, qApp,
            &QCoreApplication::quit);
    tray_->setContextMenu(menu);
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
    if (!tray_) return;
    const int unread = inbox_.UnreadCount();
    tray_->setToolTip(unread == 0 ? QStringLiteral("Vindrel: no unread messages")
                      : unread == 1
                          ? QStringLiteral("Vindrel: 1 unread message")
                          : QStringLiteral("Vindrel: %1 unread messages").arg(unread));
}

}  // namespace vindrel
