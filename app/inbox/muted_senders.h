// The senders this user has muted: their messages are kept and listed but
// not announced. Any peer can send, so a noisy one is silenced by name.
// Kept in the user's configuration ($XDG_CONFIG_HOME/vindrel/inbox.ini).
#pragma once

#include <QDialog>
#include <QObject>
#include <QString>
#include <QStringList>

class QListWidget;
class QLineEdit;
class QPushButton;

namespace vindrel {

class MutedSenders : public QObject {
    Q_OBJECT

public:
    explicit MutedSenders(QObject* parent = nullptr);

    // Names compare as NetBIOS names do: without regard to case or the
    // spaces around them.
    bool Contains(const QString& from) const;
    const QStringList& Names() const { return names_; }
    void Add(const QString& from);
    void Remove(const QString& from);

signals:
    void changed();

private:
    void Save() const;

    QStringList names_;
};

// The list, edited: a name added by hand, a muted one taken off.
class MutedSendersDialog : public QDialog {
    Q_OBJECT

public:
    explicit MutedSendersDialog(MutedSenders& muted, QWidget* parent = nullptr);

    QListWidget* names() const { return names_; }
    QLineEdit* name() const { return name_; }
    QPushButton* add() const { return add_; }
    QPushButton* remove() const { return remove_; }

private:
    void Fill();

    MutedSenders& muted_;
    QListWidget* names_;
    QLineEdit* name_;
    QPushButton* add_;
    QPushButton* remove_;
};

}  // namespace vindrel
