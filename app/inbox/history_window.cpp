// The history window.
#include "app/inbox/history_window.h"

#include <QComboBox>
#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/inbox/inbox.h"
#include "app/inbox/lan_text.h"

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

QString Folded(const InboxMessage& message)
{
    return (message.from + QLatin1Char('\n') + message.to + QLatin1Char('\n') + message.text)
        .toCaseFolded();
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
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    status_->hide();

    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("search"));
    search_->setPlaceholderText(QStringLiteral("Search senders, recipients and text"));
    search_->setClearButtonEnabled(true);

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
    display_ = new QComboBox(this);
    display_->setObjectName(QStringLiteral("display"));
    display_->addItem(QStringLiteral("notifications"), static_cast<int>(Display::kNotifications));
    display_->addItem(QStringLiteral("windows"), static_cast<int>(Display::kWindows));
    auto* display_label = new QLabel(QStringLiteral("Show messages &as:"), this);
    display_label->setBuddy(display_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(reply_);
    buttons->addWidget(unread_);
    buttons->addWidget(delete_);
    buttons->addStretch();
    buttons->addWidget(display_label);
    buttons->addWidget(display_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(notice_);
    layout->addWidget(status_);
    layout->addWidget(search_);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);
    resize(680, 460);

    connect(messages_, &QTreeWidget::itemSelectionChanged, this, &HistoryWindow::ShowSelected);
    connect(search_, &QLineEdit::textChanged, this, &HistoryWindow::Filter);
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
    connect(display_, &QComboBox::activated, this, [this] {
        emit displayChosen(static_cast<Display>(display_->currentData().toInt()));
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

void HistoryWindow::Select(const QString& id)
{
    for (int row = 0; row < messages_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = messages_->topLevelItem(row);
        if (item->data(kTime, Qt::UserRole).toString() != id) continue;
        if (item->isHidden()) search_->clear();
        messages_->setCurrentItem(item);
        messages_->scrollToItem(item);
        return;
    }
}

void HistoryWindow::SetStatus(const QString& text)
{
    status_->setText(text);
    status_->setVisible(!text.isEmpty());
}

void HistoryWindow::SetDisplay(Display display)
{
    display_->setCurrentIndex(display_->findData(static_cast<int>(display)));
}

void HistoryWindow::Refresh()
{
    const quint64 refused = inbox_.RefusedCount();
    QStringList notes;
    if (refused) notes << RefusalNotice(refused);
    if (const std::size_t ignored = inbox_.IgnoredCount())
        notes << QStringLiteral("%1 more records in the spool were not read: it holds more "
                                "than %2.")
                     .arg(ignored)
                     .arg(Inbox::kMaxRecords);
    notice_->setText(notes.join(QLatin1Char('\n')));
    notice_->setVisible(!notes.isEmpty());

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
    folded_.clear();
    folded_.reserve(list.size());
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(list.size()));
    QTreeWidgetItem* reselect = nullptr;
    for (const InboxMessage& message : list) {
        auto* item = new QTreeWidgetItem({LocalTimeText(message.received_ms),
                                          VisibleControls(message.from),
                                          VisibleControls(message.to), FirstLine(message.text)});
        item->setData(kTime, Qt::UserRole, message.id);
        MarkUnread(*item, !message.read);
        if (message.id == selected) reselect = item;
        items.append(item);
        folded_.push_back(Folded(message));
    }
    messages_->addTopLevelItems(items);
    Filter();
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

void HistoryWindow::Filter()
{
    // Folded once per row, so a keystroke is one substring search per row.
    const QString wanted = search_->text().toCaseFolded();
    const int rows = messages_->topLevelItemCount();
    for (int row = 0; row < rows && row < static_cast<int>(folded_.size()); ++row) {
        QTreeWidgetItem* item = messages_->topLevelItem(row);
        const bool hide = !wanted.isEmpty() && !folded_[row].contains(wanted);
        if (item->isHidden() != hide) item->setHidden(hide);
    }
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
