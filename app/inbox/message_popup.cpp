// The message pop-up.
#include "app/inbox/message_popup.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/inbox/lan_text.h"
#include "app/inbox/reply_target.h"

namespace vindrel {
namespace {

// On top of other windows where the window system lets a program say so;
// Wayland leaves stacking to the compositor.
Qt::WindowFlags PopupFlags()
{
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        flags |= Qt::WindowStaysOnTopHint;
    return flags;
}

// The title bar's buttons and margins, and the widest a title makes the window.
constexpr int kTitleBarButtonsChars = 16;
constexpr int kWidestTitleChars = 90;

}  // namespace

QString MessageTitle(const QString& from)
{
    return QStringLiteral("Message from %1").arg(IsolatedName(from));
}

QString MessageHeading(const InboxMessage& message)
{
    const QString heading = QStringLiteral("Message from %1 to %2 on %3")
                                .arg(IsolatedName(message.from), IsolatedName(message.to),
                                     LocalTimeText(message.received_ms));
    return message.datagram ? heading + QLatin1Char(' ') + QLatin1String(kDatagramNote) : heading;
}

MessagePopup::MessagePopup(const InboxMessage& message, QWidget* parent)
    : QWidget(parent, PopupFlags()), id_(message.id)
{
    setObjectName(QStringLiteral("popup"));
    setWindowTitle(MessageTitle(message.from));
    setAttribute(Qt::WA_ShowWithoutActivating);

    heading_ = new QLabel(MessageHeading(message), this);
    heading_->setObjectName(QStringLiteral("heading"));
    // Names come from the network: never read them as markup.
    heading_->setTextFormat(Qt::PlainText);
    heading_->setWordWrap(true);

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("text"));
    text_->setReadOnly(true);
    text_->setAccessibleName(QStringLiteral("Message text"));
    text_->setPlainText(ShownText(message.text));
    const QFontMetrics metrics(text_->font());
    text_->setMinimumSize(metrics.averageCharWidth() * 44, metrics.lineSpacing() * 6);
    // Where Qt draws the title bar itself (Wayland without the compositor's
    // decorations), it cuts a title wider than the window: room for it and
    // the bar's buttons, within reason for a long name.
    const int title = QFontMetrics(font()).horizontalAdvance(windowTitle()) +
                      metrics.averageCharWidth() * kTitleBarButtonsChars;
    setMinimumWidth(std::min(title, metrics.averageCharWidth() * kWidestTitleChars));

    // No default button: Enter meant for another window must not reach it.
    // The window is shown without being activated; once the user activates
    // it, OK has the focus.
    ok_ = new QPushButton(QStringLiteral("OK"), this);
    reply_ = new QPushButton(QStringLiteral("&Reply"), this);
    mute_ = new QPushButton(QStringLiteral("&Mute sender"), this);
    mute_->setObjectName(QStringLiteral("mute"));
    mute_->setToolTip(QStringLiteral("Keep this sender's later messages without showing them"));
    for (QPushButton* button : {ok_, reply_, mute_}) button->setAutoDefault(false);
    ok_->setFocus();
    ok_->setObjectName(QStringLiteral("ok"));
    reply_->setObjectName(QStringLiteral("reply"));

    auto* buttons = new QHBoxLayout;
    // No reply to a name that would reach someone else: the reason beside
    // the Reply button that cannot be pressed.
    if (const ReplyRefusal refusal = ReplyRefusalFor(message.from);
        refusal != ReplyRefusal::kNone) {
        reply_->setEnabled(false);
        reply_note_ = new QLabel(ReplyRefusalText(refusal), this);
        reply_note_->setObjectName(QStringLiteral("no-reply"));
        reply_note_->setTextFormat(Qt::PlainText);
        reply_note_->setWordWrap(true);
        reply_->setToolTip(reply_note_->text());
        buttons->addWidget(reply_note_, 1);
    }
    buttons->addStretch();
    buttons->addWidget(mute_);
    buttons->addWidget(ok_);
    buttons->addWidget(reply_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(text_, 1);
    layout->addLayout(buttons);

    connect(ok_, &QPushButton::clicked, this, &QWidget::close);
    connect(mute_, &QPushButton::clicked, this, [this] {
        emit muteRequested(id_);
        close();
    });
    connect(reply_, &QPushButton::clicked, this, [this] {
        emit replyRequested(id_);
        close();
    });
}

void MessagePopup::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MessagePopup::closeEvent(QCloseEvent* event)
{
    emit dismissed(id_);
    QWidget::closeEvent(event);
}

}  // namespace vindrel
