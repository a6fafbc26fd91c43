// The reply box.
#include "app/inbox/reply_box.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QShortcut>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/form.h"
#include "app/qt_common/recipient_completer.h"
#include "app/qt_common/send_window_qt.h"
#include "platform/lan_names.h"
#include "platform/qt/qt_text.h"

namespace vindrel {

ReplyBox::ReplyBox(const QString& to, Bindings bindings, QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("reply"));
    setWindowTitle(QStringLiteral("Reply to %1").arg(to));

    to_ = new QLineEdit(to, this);
    to_->setObjectName(QStringLiteral("to"));
    to_->setToolTip(ToQString(form::kToTooltip));
    message_ = new QPlainTextEdit(this);
    message_->setObjectName(QStringLiteral("message"));
    message_->setTabChangesFocus(true);
    send_ = new QPushButton(ToQString(form::kSendCaption), this);
    send_->setObjectName(QStringLiteral("send"));
    send_->setAutoDefault(false);

    // Labels as buddies: a screen reader names each field by its label.
    auto* to_label = new QLabel(ToQString(form::kLabel1Caption), this);
    to_label->setBuddy(to_);
    auto* message_label = new QLabel(ToQString(form::kLabel2Caption), this);
    message_label->setBuddy(message_);
    auto* fields = new QFormLayout;
    fields->addRow(to_label, to_);
    fields->addRow(message_label, message_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(send_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    message_->setFocus();
    for (QWidget* control : {static_cast<QWidget*>(to_), static_cast<QWidget*>(message_)})
        control->installEventFilter(this);

    window_ = std::make_unique<QtSendWindow>(*this, *to_, *message_, ToQString(form::kTitle));
    // A reply's recipient is not the To text the main window fills in at
    // its next start: that text is left as it was.
    action_ = std::make_unique<SendAction>(*window_, std::move(bindings));
    // The cache only: listing the LAN is the sender's job, not the inbox's.
    // Started now: a box is opened by hand, and reading the cache is quick.
    completer_ = new RecipientCompleter(*to_, settings_, this);
    completer_->SetNameSource({}, NameCachePath());
    completer_->Start();
    connect(send_, &QPushButton::clicked, this, &ReplyBox::Send);
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this,
            &QWidget::close);
}

ReplyBox::~ReplyBox() = default;

void ReplyBox::Send()
{
    const std::vector<RecipientOutcome> outcomes = action_->Run();
    completer_->Remember(outcomes);
    const bool everyone = !outcomes.empty() &&
                          std::all_of(outcomes.begin(), outcomes.end(),
                                      [](const RecipientOutcome& o) { return o.Delivered(); });
    if (everyone) close();
}

bool ReplyBox::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if (modifiers == Qt::ControlModifier &&
            (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            Send();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace vindrel
