// The history window.
#include "app/inbox/history_window.h"

#include <QComboBox>
#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "app/inbox/history_model.h"
#include "app/inbox/inbox.h"
#include "app/inbox/lan_text.h"
#include "app/inbox/reply_target.h"
#include "receive/refusal_notice.h"

namespace vindrel {
QString RefusalNotice(quint64 refused, quint64 replaced)
{
    return QString::fromStdString(spool::RefusalNotice(refused, replaced));
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
    auto* search_label = new QLabel(QStringLiteral("&Search:"), this);
    search_label->setBuddy(search_);

    model_ = new HistoryModel(inbox_, this);
    messages_ = new QTreeView(this);
    messages_->setObjectName(QStringLiteral("messages"));
    messages_->setAccessibleName(QStringLiteral("Messages"));
    messages_->setModel(model_);
    messages_->setRootIsDecorated(false);
    messages_->setUniformRowHeights(true);
    messages_->setSelectionMode(QAbstractItemView::SingleSelection);
    messages_->setSelectionBehavior(QAbstractItemView::SelectRows);
    messages_->header()->setStretchLastSection(true);
    // Wide enough for a time in this locale; measured once, not per row,
    // so a long history opens fast.
    const QFontMetrics metrics(messages_->font());
    messages_->setColumnWidth(
        HistoryModel::kTime,
        metrics.horizontalAdvance(LocalTimeText(QDateTime::currentMSecsSinceEpoch())) + 24);

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("text"));
    text_->setReadOnly(true);
    text_->setAccessibleName(QStringLiteral("Message text"));

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(messages_);
    split->addWidget(text_);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 1);

    reply_ = new QPushButton(QStringLiteral("&Reply"), this);
    unread_ = new QPushButton(QStringLiteral("Mark &unread"), this);
    delete_ = new QPushButton(QStringLiteral("&Delete"), this);
    mute_ = new QPushButton(QStringLiteral("&Mute sender"), this);
    mute_->setToolTip(QStringLiteral("Keep this sender's later messages without showing them"));
    muted_list_ = new QPushButton(QStringLiteral("Mu&ted senders..."), this);
    show_as_ = new QComboBox(this);
    show_as_->setObjectName(QStringLiteral("show-as"));
    show_as_->addItem(QStringLiteral("notifications"), static_cast<int>(ShowAs::kNotifications));
    show_as_->addItem(QStringLiteral("windows"), static_cast<int>(ShowAs::kWindows));
    auto* show_as_label = new QLabel(QStringLiteral("Show messages &as:"), this);
    show_as_label->setBuddy(show_as_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(reply_);
    buttons->addWidget(unread_);
    buttons->addWidget(delete_);
    buttons->addWidget(mute_);
    reply_note_ = new QLabel(this);
    reply_note_->setObjectName(QStringLiteral("no-reply"));
    reply_note_->setTextFormat(Qt::PlainText);
    reply_note_->setWordWrap(true);
    reply_note_->hide();
    buttons->addWidget(reply_note_, 1);
    buttons->addStretch();
    buttons->addWidget(muted_list_);
    buttons->addWidget(show_as_label);
    buttons->addWidget(show_as_);
    undo_note_ = new QLabel(this);
    undo_note_->setObjectName(QStringLiteral("deleted"));
    undo_note_->setTextFormat(Qt::PlainText);
    undo_ = new QPushButton(QStringLiteral("U&ndo"), this);
    auto* undo_bar = new QHBoxLayout;
    undo_bar->addWidget(undo_note_, 1);
    undo_bar->addWidget(undo_);
    undo_note_->hide();
    undo_->hide();
    auto* search_bar = new QHBoxLayout;
    search_bar->addWidget(search_label);
    search_bar->addWidget(search_, 1);
    // For desktops without a tray, where its menu would be.
    auto* bar = new QMenuBar(this);
    QMenu* menu = bar->addMenu(QStringLiteral("&Inbox"));
    pause_ = menu->addAction(QStringLiteral("&Pause pop-ups"));
    pause_->setCheckable(true);
    connect(pause_, &QAction::toggled, this, &HistoryWindow::pauseChosen);
    connect(menu->addAction(QStringLiteral("Mu&ted senders...")), &QAction::triggered, this,
            &HistoryWindow::mutedListRequested);
    menu->addSeparator();
    quit_ = menu->addAction(QStringLiteral("&Quit"));
    quit_->setShortcut(QKeySequence::Quit);
    connect(quit_, &QAction::triggered, qApp, &QCoreApplication::quit);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(bar);
    layout->addWidget(notice_);
    layout->addWidget(status_);
    layout->addLayout(search_bar);
    layout->addWidget(split, 1);
    layout->addLayout(undo_bar);
    layout->addLayout(buttons);
    resize(680, 460);

    read_after_ = new QTimer(this);
    read_after_->setSingleShot(true);
    read_after_->setInterval(kReadAfterMs);
    connect(read_after_, &QTimer::timeout, this, [this] {
        // Shown means on the screen, not in a minimised window.
        if (isVisible() && !isMinimized()) ReadShown();
    });
    connect(messages_, &QAbstractItemView::activated, this, &HistoryWindow::ReadShown);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
        search_->setFocus(Qt::ShortcutFocusReason);
        search_->selectAll();
    });
    auto* delete_key = new QShortcut(QKeySequence::Delete, messages_);
    delete_key->setContext(Qt::WidgetShortcut);
    connect(delete_key, &QShortcut::activated, this, &HistoryWindow::DeleteSelected);
    connect(new QShortcut(QKeySequence::Undo, this), &QShortcut::activated, this,
            &HistoryWindow::Undo);
    connect(undo_, &QPushButton::clicked, this, &HistoryWindow::Undo);

    connect(messages_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &HistoryWindow::ShowSelected);
    connect(search_, &QLineEdit::textChanged, this, &HistoryWindow::Search);
    connect(delete_, &QPushButton::clicked, this, &HistoryWindow::DeleteSelected);
    connect(unread_, &QPushButton::clicked, this, [this] {
        const QString id = SelectedId();
        if (id.isEmpty()) return;
        // Leaves the text shown but clears the selection, so that the mark
        // is not undone at once by the selection that reads it.
        const QSignalBlocker quiet(messages_->selectionModel());
        messages_->clearSelection();
        inbox_.SetRead(id, false);
    });
    connect(mute_, &QPushButton::clicked, this, [this] {
        const QString id = SelectedId();
        if (!id.isEmpty()) emit muteRequested(id);
    });
    connect(muted_list_, &QPushButton::clicked, this, &HistoryWindow::mutedListRequested);
    connect(reply_, &QPushButton::clicked, this, [this] {
        const QString id = SelectedId();
        if (!id.isEmpty()) emit replyRequested(id);
    });
    connect(show_as_, &QComboBox::activated, this, [this] {
        emit showAsChosen(static_cast<ShowAs>(show_as_->currentData().toInt()));
    });
    connect(&inbox_, &Inbox::changed, this, &HistoryWindow::Refresh);
    connect(&inbox_, &Inbox::refusedMore, this, &HistoryWindow::Refresh);
    Refresh();
}

QString HistoryWindow::SelectedId() const
{
    const QModelIndexList selected = messages_->selectionModel()->selectedRows();
    return selected.isEmpty() ? QString() : model_->IdAt(selected.first().row());
}

bool HistoryWindow::Reselect(const QString& id)
{
    const int row = id.isEmpty() ? -1 : model_->RowOf(id);
    if (row < 0) return false;
    const QSignalBlocker quiet(messages_->selectionModel());
    messages_->setCurrentIndex(model_->index(row, 0));
    return true;
}

void HistoryWindow::Select(const QString& id)
{
    if (model_->RowOf(id) < 0) search_->clear();
    const int row = model_->RowOf(id);
    if (row < 0) return;
    messages_->setCurrentIndex(model_->index(row, 0));
    messages_->scrollTo(model_->index(row, 0));
    ReadShown();
}

void HistoryWindow::ReadShown()
{
    read_after_->stop();
    if (const QString id = SelectedId(); !id.isEmpty()) inbox_.SetRead(id, true);
}

void HistoryWindow::DeleteSelected()
{
    const InboxMessage* message = inbox_.Find(SelectedId());
    if (!message) return;
    const int row = messages_->currentIndex().row();
    const QString id = message->id;  // the message itself goes with the delete
    deleted_.append(id);
    undo_note_->setText(
        QStringLiteral("Message from %1 deleted.").arg(VisibleControls(message->from)));
    inbox_.Delete(id);
    undo_note_->show();
    undo_->show();
    // The next message takes its place, so Delete can be pressed again.
    const int rows = model_->rowCount();
    if (rows > 0) messages_->setCurrentIndex(model_->index(std::min(row, rows - 1), 0));
}

void HistoryWindow::Undo()
{
    if (deleted_.isEmpty()) return;
    const QString id = deleted_.takeLast();
    inbox_.Undelete(id);
    if (deleted_.isEmpty()) {
        undo_note_->hide();
        undo_->hide();
    }
    const int row = model_->RowOf(id);
    if (row >= 0) messages_->setCurrentIndex(model_->index(row, 0));
}

void HistoryWindow::SetStatus(const QString& text)
{
    status_->setText(text);
    status_->setVisible(!text.isEmpty());
}

void HistoryWindow::SetShowAs(ShowAs chosen, ShowAs in_use)
{
    const int notifications = show_as_->findData(static_cast<int>(ShowAs::kNotifications));
    show_as_->setItemText(notifications,
                          chosen == ShowAs::kNotifications && in_use == ShowAs::kWindows
                              ? QStringLiteral("windows (no notification service)")
                              : QStringLiteral("notifications"));
    show_as_->setCurrentIndex(show_as_->findData(static_cast<int>(chosen)));
}

void HistoryWindow::SetPaused(bool paused)
{
    const QSignalBlocker quiet(pause_);
    pause_->setChecked(paused);
}

void HistoryWindow::Refresh()
{
    const quint64 refused = inbox_.RefusedCount(), replaced = inbox_.ReplacedCount();
    QStringList notes;
    if (refused || replaced) notes << RefusalNotice(refused, replaced);
    if (const std::size_t ignored = inbox_.IgnoredCount())
        notes << QStringLiteral("%1 more records in the spool were not read: it holds more "
                                "than %2.")
                     .arg(ignored)
                     .arg(Inbox::kMaxRecords);
    notice_->setText(notes.join(QLatin1Char('\n')));
    notice_->setVisible(!notes.isEmpty());

    // Only read marks changed: the rows stay, and so do the selection and
    // the scroll position.
    const QString selected = SelectedId();
    if (model_->Reload() && !Reselect(selected)) text_->clear();
    ShowButtons();
}

void HistoryWindow::Search()
{
    const QString selected = SelectedId();
    model_->SetSearch(search_->text());
    Reselect(selected);
    ShowButtons();
}

void HistoryWindow::ShowButtons()
{
    const InboxMessage* message = inbox_.Find(SelectedId());
    const ReplyRefusal refusal = message ? ReplyRefusalFor(message->from) : ReplyRefusal::kNone;
    delete_->setEnabled(message);
    unread_->setEnabled(message);
    mute_->setEnabled(message);
    reply_->setEnabled(message && refusal == ReplyRefusal::kNone);
    // Said beside the buttons, where the user looks for Reply.
    reply_note_->setText(ReplyRefusalText(refusal));
    reply_note_->setVisible(refusal != ReplyRefusal::kNone);
    reply_->setToolTip(reply_note_->text());
}

void HistoryWindow::ShowSelected()
{
    ShowButtons();
    const InboxMessage* message = inbox_.Find(SelectedId());
    if (!message) {
        text_->clear();
        return;
    }
    text_->setPlainText(ShownText(message->text));
    // Passing over it with the arrow keys is not reading it.
    if (!message->read) read_after_->start();
}

}  // namespace vindrel
