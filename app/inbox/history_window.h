// The history window: every message this user has not deleted, newest
// first, with the whole text of the one selected, a search box, the
// registration's status, and how new messages are shown. By keyboard:
// Ctrl+F searches, Delete (or Alt+D) deletes with an Undo (Ctrl+Z), Enter
// opens. A message is read once opened or shown for kReadAfterMs, not
// when the selection only passes it.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QTreeView;

namespace vindrel {

class HistoryModel;
class Inbox;

// The notice for messages the spool lost (spool::RefusalNotice), for the
// windows and notifications.
QString RefusalNotice(quint64 refused, quint64 replaced = 0);

// How new messages are shown.
enum class ShowAs { kNotifications, kWindows };

class HistoryWindow : public QWidget {
    Q_OBJECT

public:
    explicit HistoryWindow(Inbox& inbox, QWidget* parent = nullptr);

    QTreeView* messages() const { return messages_; }
    HistoryModel* rows() const { return model_; }
    QPlainTextEdit* text() const { return text_; }
    QLabel* notice() const { return notice_; }
    QLabel* status() const { return status_; }
    QLineEdit* search() const { return search_; }
    QComboBox* show_as() const { return show_as_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* unreadButton() const { return unread_; }
    QPushButton* replyButton() const { return reply_; }
    QPushButton* undoButton() const { return undo_; }
    QPushButton* muteButton() const { return mute_; }
    QPushButton* mutedListButton() const { return muted_list_; }
    // "Message from X deleted.", beside Undo; hidden until a delete.
    QLabel* undoNote() const { return undo_note_; }
    // Why Reply cannot be pressed for the selected message; hidden when it can.
    QLabel* replyNote() const { return reply_note_; }

    // Opens the message (selects it and marks it read), clearing a search
    // that hides it.
    void Select(const QString& id);
    void DeleteSelected();
    // Brings back the message deleted last.
    void Undo();

    static constexpr int kReadAfterMs = 1500;
    // A line about this computer's registration; hidden when empty.
    void SetStatus(const QString& text);
    // The user's choice, and what is used for want of a service.
    void SetShowAs(ShowAs chosen, ShowAs in_use);
    void SetPaused(bool paused);
    QAction* pauseAction() const { return pause_; }
    QAction* quitAction() const { return quit_; }

signals:
    void replyRequested(const QString& id);
    void showAsChosen(vindrel::ShowAs show_as);
    void muteRequested(const QString& id);
    void mutedListRequested();
    void pauseChosen(bool paused);

private:
    void Refresh();
    void Search();
    void ShowSelected();
    void ShowButtons();
    void ReadShown();
    QString SelectedId() const;
    // Selects the row of `id`, if shown, without the selection's signals.
    bool Reselect(const QString& id);

    Inbox& inbox_;
    QLabel* notice_;
    QLabel* status_;
    QLineEdit* search_;
    HistoryModel* model_;
    QTreeView* messages_;
    QPlainTextEdit* text_;
    QPushButton* delete_;
    QPushButton* unread_;
    QPushButton* reply_;
    QLabel* reply_note_;
    QLabel* undo_note_;
    QPushButton* mute_;
    QPushButton* muted_list_;
    QPushButton* undo_;
    QStringList deleted_;  // this session's deletes, the last last
    QTimer* read_after_;
    QAction* pause_;
    QAction* quit_;
    QComboBox* show_as_;
};

}  // namespace vindrel
