// The history's rows: the inbox's messages, newest first, less those a
// search leaves out. A row's texts are made when it is drawn, so a long
// history opens, and a search filters it, without a widget per message.
// An unread row is bold, has a dot, and says "Unread" to assistive
// technology (its accessible description).
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

namespace vindrel {

class Inbox;

class HistoryModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kTime, kFrom, kTo, kFirstLine, kColumns };
    // The message's id (its record's name), in every column.
    static constexpr int kIdRole = Qt::UserRole;

    explicit HistoryModel(const Inbox& inbox, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes the inbox's messages again. True when the rows changed; false
    // when only read marks did (the rows stay, restyled).
    bool Reload();
    // Leaves only the messages whose sender, recipient or text holds
    // `text`, in any case; all of them for an empty text.
    void SetSearch(const QString& text);

    QString IdAt(int row) const;
    // The row showing `id`; -1 when none does.
    int RowOf(const QString& id) const;

private:
    void Filter();

    const Inbox& inbox_;
    std::vector<QString> ids_;     // per message, as the inbox has them
    std::vector<QString> folded_;  // per message: sender, recipient, text, case-folded
    std::vector<int> rows_;        // the messages shown
    QString search_;               // case-folded
};

}  // namespace vindrel
