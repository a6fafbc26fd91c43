// The history window: every message this user has not deleted, newest
// first, with the whole text of the one selected, a search box, the
// registration's status, and how new messages are shown.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace vindrel {

class Inbox;

// The notice for refusals: "N messages could not be kept because the inbox was full."
QString RefusalNotice(quint64 count);

// How new messages are shown.
enum class Display { kNotifications, kWindows };

class HistoryWindow : public QWidget {
    Q_OBJECT

public:
    explicit HistoryWindow(Inbox& inbox, QWidget* parent = nullptr);

    QTreeWidget* messages() const { return messages_; }
    QPlainTextEdit* text() const { return text_; }
    QLabel* notice() const { return notice_; }
    QLabel* status() const { return status_; }
    QLineEdit* search() const { return search_; }
    QComboBox* display() const { return display_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* unreadButton() const { return unread_; }
    QPushButton* replyButton() const { return reply_; }

    // Selects the message (and so marks it read), clearing a search that hides it.
    void Select(const QString& id);
    // A line about this computer's registration; hidden when empty.
    void SetStatus(const QString& text);
    void SetDisplay(Display display);

signals:
    void replyRequested(const QString& id);
    void displayChosen(vindrel::Display display);

private:
    void Refresh();
    void Filter();
    void ShowSelected();
    QString SelectedId() const;

    Inbox& inbox_;
    QLabel* notice_;
    QLabel* status_;
    QLineEdit* search_;
    QTreeWidget* messages_;
    QPlainTextEdit* text_;
    QPushButton* delete_;
    QPushButton* unread_;
    QPushButton* reply_;
    QComboBox* display_;
    // Per row: sender, recipient and text, case-folded once for the search.
    std::vector<QString> folded_;
};

}  // namespace vindrel
