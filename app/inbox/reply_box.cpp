// The reply box.
#include "app/inbox/reply_box.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

#include "app/form.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/ui_services_qt.h"

namespace vindrel {
namespace {

// Keeps nothing and reports nothing: a reply's recipient is not the To
// text the main window remembers.
class UnrememberedTo : public SettingsStore {
public:
    std::u16string Read(std::u16string_view, std::u16string_view, std::u16string_view,
                        std::u16string_view default_value) override
    {
        return std::u16string(default_value);
    }
    std::optional<std::u16string> Write(std::u16string_view, std::u16string_view,
                                        std::u16string_view, std::u16string_view) override
    {
        return std::nullopt;
    }
};

}  // namespace

ReplyBox::ReplyBox(const QString& to, Bindings bindings, QWidget* parent)
    : QWidget(parent, Qt::Window), settings_(std::make_unique<UnrememberedTo>())
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

    auto* fields = new QFormLayout;
    fields->addRow(ToQString(form::kLabel1Caption), to_);
    fields->addRow(ToQString(form::kLabel2Caption), message_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(send_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    message_->setFocus();
    for (QWidget* control : {static_cast<QWidget*>(to_), static_cast<QWidget*>(message_)})
        control->installEventFilter(this);

    // The real send, watched so the box knows whether everyone got it.
    Bindings watched = bindings;
    watched.send = [this, send = std::move(bindings.send)](std::u16string_view name,
                                                           std::u16string_view text) {
        const NetStatus status = send(name, text);
        ++sends_;
        failed_ = failed_ || status != net_status::kSuccess;
        return status;
    };
    ui_ = std::make_unique<QtUiServices>(*this, *to_, *message_, ToQString(form::kTitle));
    action_ = std::make_unique<SendAction>(*ui_, *settings_, std::move(watched));
    connect(send_, &QPushButton::clicked, this, &ReplyBox::Send);
}

ReplyBox::~ReplyBox() = default;

void ReplyBox::Send()
{
    if (action_->Dispatching()) return;
    sends_ = 0;
    failed_ = false;
    action_->Run();
    if (sends_ > 0 && !failed_) close();
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
