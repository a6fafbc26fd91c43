// What the inbox's Qt tests share: a temporary spool and state per test,
// records dropped into it, and an InboxApp whose send is a fake that keeps
// every call.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTreeView>
#include <memory>
#include <vector>

#include "app/inbox/history_model.h"
#include "app/inbox/inbox_app.h"
#include "app/inbox/inbox_observer.h"
#include "app/inbox/reply_box.h"
#include "core/dispatch.h"
#include "receive/spool_dir.h"

namespace vindrel::testing {

struct Sent {
    QString name, text;
};

// The text as a plain-text pane shows it, every character kept.
inline QString Raw(const QPlainTextEdit& edit)
{
    QString text = edit.document()->toRawText();
    return text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

// The history's rows as shown: a cell's text, whether the row is bold
// (unread), the rows of one column.
inline QString Cell(const HistoryWindow& history, int row, int column)
{
    return history.rows()->index(row, column).data().toString();
}

inline bool Bold(const HistoryWindow& history, int row)
{
    return history.rows()->index(row, 0).data(Qt::FontRole).value<QFont>().bold();
}

inline QStringList Column(const HistoryWindow& history, int column)
{
    QStringList cells;
    for (int row = 0; row < history.rows()->rowCount(); ++row) cells << Cell(history, row, column);
    return cells;
}

inline void SelectRow(HistoryWindow& history, int row)
{
    history.messages()->setCurrentIndex(history.rows()->index(row, 0));
}

template <typename W>
W* VisibleWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<W*>(window); found && found->isVisible()) return found;
    return nullptr;
}

// Every window a test left open (reply boxes delete themselves).
inline void CloseWindows()
{
    for (QWidget* window : QApplication::topLevelWidgets()) window->close();
}

// What an InboxApp told its observer, a word or three an event.
struct ToldObserver : InboxObserver {
    void NotificationShown(quint32 id, const QString&, const QString&) override
    {
        told << QStringLiteral("notification %1").arg(id);
    }
    void SummaryNotified(quint32 id, int count) override
    {
        told << QStringLiteral("summary %1 of %2").arg(id).arg(count);
    }
    void PopupShown(MessagePopup&) override { told << QStringLiteral("window"); }
    void HistoryShown(HistoryWindow&) override { told << QStringLiteral("history"); }

    QStringList told;
};

class InboxHarness {
public:
    // A fresh spool and state; call from the test's init().
    bool Reset()
    {
        if (!dir_.isValid()) return false;
        const QString run = dir_.path() + QStringLiteral("/run%1").arg(++runs_);
        spool = run + "/spool";
        state = run + "/state/inbox-state";
        sent.clear();
        qputenv("XDG_CONFIG_HOME", (run + "/config").toUtf8());
        qputenv("XDG_CACHE_HOME", (run + "/cache").toUtf8());  // no LAN names
        return QDir().mkpath(spool);
    }

    QString Drop(const QString& from, const QString& text, qint64 received_ms = 0)
    {
        const spool::Record record{
            received_ms ? received_ms : 1'796'000'000'000 + ++drops_ * 60'000, from.toStdString(),
            "BOB", text.toStdString()};
        return QString::fromStdString(spool::StoreRecord(spool.toStdString(), record).name);
    }

    std::unique_ptr<InboxApp> Start(ShowAs display, bool start = true)
    {
        Bindings fake{[this](std::u16string_view name, std::u16string_view text) {
                          sent.push_back({QString::fromUtf16(name.data(), name.size()),
                                          QString::fromUtf16(text.data(), text.size())});
                          return SendOutcome{};
                      },
                      [] { return std::u16string(u"carol"); }};
        auto app = std::make_unique<InboxApp>(spool, state, fake);
        app->SetShowAs(display);
        if (start) app->Start();
        return app;
    }

    // The spool's count of refused messages, as a full spool's writer keeps it.
    void SetRefused(int count)
    {
        QFile file(spool + "/refused");
        if (file.open(QIODevice::WriteOnly)) file.write(QByteArray::number(count) + "\n");
    }

    QString Path(const QString& name) const { return dir_.path() + "/" + name; }

    QString spool, state;
    std::vector<Sent> sent;

private:
    QTemporaryDir dir_;
    int runs_ = 0;
    int drops_ = 0;
};

}  // namespace vindrel::testing
