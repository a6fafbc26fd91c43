// The history's rows.
#include "app/inbox/history_model.h"

#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

#include "app/inbox/inbox.h"
#include "app/inbox/lan_text.h"

namespace vindrel {
namespace {

QIcon UnreadMark()
{
    static const QIcon mark = [] {
        QPixmap dot(12, 12);
        dot.fill(Qt::transparent);
        QPainter painter(&dot);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QGuiApplication::palette().color(QPalette::Highlight));
        painter.drawEllipse(QRectF(2, 2, 8, 8));
        return QIcon(dot);
    }();
    return mark;
}

}  // namespace

HistoryModel::HistoryModel(const Inbox& inbox, QObject* parent)
    : QAbstractTableModel(parent), inbox_(inbox)
{
    Reload();
}

int HistoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const std::size_t at = static_cast<std::size_t>(rows_[static_cast<std::size_t>(index.row())]);
    if (at >= inbox_.Messages().size()) return {};
    const InboxMessage& message = inbox_.Messages()[at];
    switch (role) {
    case kIdRole: return message.id;
    case Qt::AccessibleDescriptionRole:
        return message.read ? QStringLiteral("Read") : QStringLiteral("Unread");
    case Qt::DecorationRole:
        // Bold alone is not seen by everyone: a dot besides.
        if (index.column() == kTime && !message.read) return UnreadMark();
        return {};
    case Qt::FontRole: {
        // Unread messages stand out in bold.
        QFont font;
        font.setBold(!message.read);
        return font;
    }
    case Qt::DisplayRole:
        switch (index.column()) {
        case kTime: return LocalTimeText(message.received_ms);
        case kFrom:
            return message.datagram ? VisibleControls(message.from) + QLatin1Char(' ') +
                                          QLatin1String(kDatagramNote)
                                    : VisibleControls(message.from);
        case kTo: return VisibleControls(message.to);
        case kFirstLine: return ShownText(FirstLine(message.text));
        }
    }
    return {};
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case kTime: return QStringLiteral("Received");
    case kFrom: return QStringLiteral("From");
    case kTo: return QStringLiteral("To");
    case kFirstLine: return QStringLiteral("Message");
    }
    return {};
}

bool HistoryModel::Reload()
{
    const auto& messages = inbox_.Messages();
    bool same = messages.size() == ids_.size();
    for (std::size_t i = 0; same && i < messages.size(); ++i) same = messages[i].id == ids_[i];
    if (same) {
        if (!rows_.empty())
            emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1),
                             {Qt::FontRole, Qt::DecorationRole, Qt::AccessibleDescriptionRole});
        return false;
    }
    beginResetModel();
    ids_.clear();
    folded_.clear();
    ids_.reserve(messages.size());
    folded_.reserve(messages.size());
    for (const InboxMessage& message : messages) {
        ids_.push_back(message.id);
        folded_.push_back(
            (message.from + QLatin1Char('\n') + message.to + QLatin1Char('\n') + message.text)
                .toCaseFolded());
    }
    Filter();
    endResetModel();
    return true;
}

void HistoryModel::SetSearch(const QString& text)
{
    const QString folded = text.toCaseFolded();
    if (folded == search_) return;
    beginResetModel();
    search_ = folded;
    Filter();
    endResetModel();
}

void HistoryModel::Filter()
{
    // Folded once per message, so a keystroke is one substring search each.
    rows_.clear();
    rows_.reserve(folded_.size());
    for (std::size_t i = 0; i < folded_.size(); ++i)
        if (search_.isEmpty() || folded_[i].contains(search_)) rows_.push_back(static_cast<int>(i));
}

QString HistoryModel::IdAt(int row) const
{
    return row >= 0 && row < static_cast<int>(rows_.size())
               ? ids_[static_cast<std::size_t>(rows_[static_cast<std::size_t>(row)])]
               : QString();
}

int HistoryModel::RowOf(const QString& id) const
{
    for (std::size_t row = 0; row < rows_.size(); ++row)
        if (ids_[static_cast<std::size_t>(rows_[row])] == id) return static_cast<int>(row);
    return -1;
}

}  // namespace vindrel
