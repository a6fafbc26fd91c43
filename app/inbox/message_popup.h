// The pop-up that shows one arrived message: on top of other windows (where
// the window system allows it), shown without taking the keyboard focus, so
// that typing elsewhere cannot dismiss it unseen; once the user activates
// it, it works by keyboard (Tab, Space, Esc to close). The text sits alone in its own
// pane, so nothing it holds can reorder the words around it.
#pragma once

#include <QString>
#include <QWidget>

#include "app/inbox/inbox.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vindrel {

// "Message from FROM": the pop-up's title and the notification's summary.
// Names from the LAN are isolated in it (see lan_text.h).
QString MessageTitle(const QString& from);

// "Message from FROM to TO on DATE TIME".
QString MessageHeading(const InboxMessage& message);

class MessagePopup : public QWidget {
    Q_OBJECT

public:
    explicit MessagePopup(const InboxMessage& message, QWidget* parent = nullptr);

    const QString& MessageId() const { return id_; }
    QLabel* heading() const { return heading_; }
    QPlainTextEdit* text() const { return text_; }
    QPushButton* ok() const { return ok_; }
    QPushButton* reply() const { return reply_; }
    QPushButton* mute() const { return mute_; }
    // Why Reply cannot be pressed; null when it can.
    QLabel* replyNote() const { return reply_note_; }

signals:
    // The user has seen the message (OK, Reply or the close button).
    void dismissed(const QString& id);
    void replyRequested(const QString& id);
    void muteRequested(const QString& id);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString id_;
    QLabel* heading_;
    QPlainTextEdit* text_;
    QPushButton* ok_;
    QPushButton* reply_;
    QPushButton* mute_;
    QLabel* reply_note_ = nullptr;
};

}  // namespace vindrel
