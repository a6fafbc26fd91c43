// The history window.
#include "app/inbox/history_window.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/inbox/inbox.h"

namespace vindrel {
namespace {

enum Column { kTime, kFrom, kTo, kFirstLine };

// Unread messages stand out in bold.
void MarkUnread(QTreeWidgetItem& item, bool unread)
{
    QFont font = item.font(kTime);
    if (font.bold() == unread) return;
    font.setBold(unread);
    for (int column = kTime; column <= kFirstLine; ++column) item.setFont(column, font);
}

}  // namespace

QString RefusalNotice(quint64 count)
{
    return QStringLiteral("%1 messages could not be kept because the inbox was full.").arg(count);
}

HistoryWindow::HistoryWindow(Inbox& inbox, QWidget* parent)
    : QWidget(parent, Qt::Window), inbox_(inbox)
{
    setObjectName(QStringLiteral("history"));
    setWindowTitle(QStringLiteral("Vindrel messages"));

    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->setTextFormat(Qt::PlainText);

    messages_ = new QTreeWidget(this);
    messages_->setObjectName(QStringLiteral("messages"));
    messages_->setHeaderLabels({QStringLiteral("Received"), QStringLiteral("From"),
                                QStringLiteral("To"), QStringLiteral("Message")});
    messages_->setRootIsDecorated(false);
    messages_->setUniformRowHeights(true);
    messages_->setSelectionMode(QAbstractItemView::SingleSelection);
    messages_->header()->setStretchLastSection(true);
    // Wide enough for a time in this locale; measured once, not per row,
    // so a long history opens fast.
    const QFontMetrics metrics(messages_->font());
    messages_->setColumnWidth(
        kTime, metrics.horizontalAdvance(LocalTimeText(QDateTime::currentMSecsSinceEpoch())) + 24);

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("text"));
    text_->setReadOnly(true);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(messages_);
    split->addWidget(text_);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 1);

    reply_ = new QPushButton(QStringLiteral("&Reply"), this);
    unread_ = new QPushButton(QStringLiteral("Mark &unread"), this);
    delete_ = new QPushButton(QStringLiteral("&Delete"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(reply_);
    buttons->addWidget(unread_);
    buttons->addStretch();
    buttons->addWidget(delete_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(notice_);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);
    resize(640, 440);

    connect(messages_, &QTreeWidget::itemSelectionChanged, this, &HistoryWindow::ShowSelected);
    connect(delete_, &QPushButton::clicked, this, [this] {
        const QString id = SelectedId();
        if (!id.isEmpty()) inbox_.Delete(id);
    });
    connect(unread_, &QPushButton::clicked, this, [this] {
        const QString id = SelectedId();
        if (id.isEmpty()) return;
        // Leaves the text shown but clears the selection, so that the mark
        // is not undone at once by the selection that reads it.
        const QSignalBlocker quiet(messages_);
        messages_->clearSelection();
        inbox_.SetRead(id, false);
    });
    connect(reply_, &QPushButton::clicked, this, [this] {
        const QString id = SelectedId();
        if (!id.isEmpty()) emit replyRequested(id);
    });
    connect(&inbox_, &Inbox::changed, this, &HistoryWindow::Refresh);
    connect(&inbox_, &Inbox::refusedMore, this, &HistoryWindow::Refresh);
    Refresh();
}

QString HistoryWindow::SelectedId() const
{
    const auto selected = messages_->selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->data(kTime, Qt::UserRole).toString();
}

void HistoryWindow::Refresh()
{
    const quint64 refused = inbox_.RefusedCount();
    notice_->setText(refused ? RefusalNotice(refused) : QString());
    notice_->setVisible(refused != 0);

    const auto& list = inbox_.Messages();
    bool same = messages_->topLevelItemCount() == static_cast<int>(list.size());
    for (int row = 0; same && row < messages_->topLevelItemCount(); ++row)
        same = messages_->topLevelItem(row)->data(kTime, Qt::UserRole).toString() == list[row].id;
    if (same) {
        // Only read states changed: restyle in place, keeping selection and
        // scroll position (and not deleting items inside a selection signal).
        for (int row = 0; row < messages_->topLevelItemCount(); ++row)
            MarkUnread(*messages_->topLevelItem(row), !list[row].read);
        return;
    }

    const QString selected = SelectedId();
    const QSignalBlocker quiet(messages_);
    messages_->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(list.size()));
    QTreeWidgetItem* reselect = nullptr;
    for (const InboxMessage& message : list) {
        auto* item = new QTreeWidgetItem(
            {LocalTimeText(message.received_ms), message.from, message.to,
             message.text.section(QLatin1Char('\n'), 0, 0)});
        item->setData(kTime, Qt::UserRole, message.id);
        MarkUnread(*item, !message.read);
        if (message.id == selected) reselect = item;
        items.append(item);
    }
    messages_->addTopLevelItems(items);
    if (reselect) {
        reselect->setSelected(true);
    } else {
        text_->clear();
    }
    const bool any = reselect != nullptr;
    delete_->setEnabled(any);
    unread_->setEnabled(any);
    reply_->setEnabled(any);
}

void HistoryWindow::ShowSelected()
{
    const QString id = SelectedId();
    const InboxMessage* message = inbox_.Find(id);
    delete_->setEnabled(message != nullptr);
    unread_->setEnabled(message != nullptr);
    reply_->setEnabled(message != nullptr);
    if (!message) {
        text_->clear();
        return;
    }
    text_->setPlainText(message->text);
    inbox_.SetRead(id, true);
}

}  // namespace vindrel
