// The history window: every message this user has not deleted, newest
// first, with the whole text of the one selected.
#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace vindrel {

class Inbox;

// The notice for refusals: "N messages could not be kept because the inbox was full."
QString RefusalNotice(quint64 count);

class HistoryWindow : public QWidget {
    Q_OBJECT

public:
    explicit HistoryWindow(Inbox& inbox, QWidget* parent = nullptr);

    QTreeWidget* messages() const { return messages_; }
    QPlainTextEdit* text() const { return text_; }
    QLabel* notice() const { return notice_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* unreadButton() const { return unread_; }
    QPushButton* replyButton() const { return reply_; }

signals:
    void replyRequested(const QString& id);

private:
    void Refresh();
    void ShowSelected();
    QString SelectedId() const;

    Inbox& inbox_;
    QLabel* notice_;
    QTreeWidget* messages_;
    QPlainTextEdit* text_;
    QPushButton* delete_;
    QPushButton* unread_;
    QPushButton* reply_;
};

}  // namespace vindrel
