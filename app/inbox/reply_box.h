// The reply box: a small send window with To set to the sender's name. Its
// Send is the main window's Send action (length notice, sender line,
// failure prompts); only the To text is not remembered, since the main
// window's next To text is not the reply's. Its To field completes names
// as the main window's does, from the same recent recipients (which a
// reply joins) and the LAN names cached by the last listing. Esc closes it.
// A reply typed elsewhere, with no box to ask in, goes out through
// SendReply (reply_send.h) by the same rules.
#pragma once

#include <QWidget>
#include <memory>

#include "core/send_action.h"
#include "platform/qt/settings_store_qt.h"

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vindrel {

class QtSendWindow;
class RecipientCompleter;

class ReplyBox : public QWidget {
    Q_OBJECT

public:
    ReplyBox(const QString& to, Bindings bindings, QWidget* parent = nullptr);
    ~ReplyBox() override;

    QLineEdit* to() const { return to_; }
    QPlainTextEdit* message() const { return message_; }
    QPushButton* send() const { return send_; }
    RecipientCompleter* completer() const { return completer_; }

    // What Send and Ctrl+Enter run. The box closes once every recipient
    // has had the message; after a notice or a failure it stays, text and all.
    void Send();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* to_;
    QPlainTextEdit* message_;
    QPushButton* send_;
    std::unique_ptr<QtSendWindow> window_;
    // The main window's store: names sent from either complete in both.
    QtSettingsStore settings_;
    RecipientCompleter* completer_;
    std::unique_ptr<SendAction> action_;
};

}  // namespace vindrel
