// The Send action's window on Qt Widgets, for any window with a To line and
// a message text box: frmMain and the inbox's reply box. The message boxes
// it shows, the busy cursor over a dispatch and the event pump after each
// send all belong to that window.
#pragma once

#include <QCursor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <vector>

#include "core/send_action.h"

class QLineEdit;
class QPlainTextEdit;

namespace vindrel {

class QtSendWindow : public QObject, public SendWindow {
public:
    // `window` titles nothing itself: the boxes carry `title`. The three
    // widgets must outlive this object.
    QtSendWindow(QWidget& window, QLineEdit& to, QPlainTextEdit& message, QString title);

    std::u16string ToText() override;
    // Line breaks come back as CR LF, as every composed text has them.
    std::u16string MessageText() override;
    void ShowOk(std::u16string_view text) override;
    // The hourglass over the window and every widget inside it, including
    // those that carry a pointer of their own (the I-beam of the text
    // boxes), from Started to Finished. The boxes are windows of their own
    // and keep the normal pointer.
    void Started() override;
    void Finished() override;
    // Processes pending window events; false once the window was closed.
    bool StillOpen() override;
    // ContinuePrompt's words (prompt_texts.h), Yes and No, Yes the default.
    bool GoOn(const RecipientOutcome& undelivered) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct SavedCursor {
        QPointer<QWidget> widget;
        bool had_own;
        QCursor cursor;
    };

    QPointer<QWidget> window_;
    QLineEdit& to_;
    QPlainTextEdit& message_;
    QString title_;
    bool close_seen_ = false;
    std::vector<SavedCursor> saved_cursors_;
};

}  // namespace vindrel
