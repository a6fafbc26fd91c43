// The trace of what vindrel-inbox showed, a line a moment.
#include "tests/inbox/trace_observer.h"

#include <QEvent>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include <functional>

#include "app/inbox/history_window.h"
#include "app/inbox/message_popup.h"

namespace vindrel {
namespace {

double NowNs()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

// Runs `then` at a window's first expose event: shown is not yet on the
// screen, the window system says when it is.
class OnceExposed : public QObject {
public:
    OnceExposed(QWindow* window, std::function<void()> then)
        : QObject(window), then_(std::move(then))
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            // Once: a window is exposed again whenever it is redrawn.
            watched->removeEventFilter(this);
            then_();
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> then_;
};

}  // namespace

void TraceObserver::NotificationShown(quint32 id, const QString& title, const QString& text)
{
    Write({{QStringLiteral("kind"), QStringLiteral("notification")},
           {QStringLiteral("id"), static_cast<double>(id)},
           {QStringLiteral("title"), title},
           {QStringLiteral("text"), text}});
}

void TraceObserver::SummaryNotified(quint32 id, int count)
{
    Write({{QStringLiteral("kind"), QStringLiteral("summary")},
           {QStringLiteral("id"), static_cast<double>(id)},
           {QStringLiteral("count"), count}});
}

void TraceObserver::PopupShown(MessagePopup& popup)
{
    // The raw text keeps every character as shown; blocks end in U+2029.
    QString text = popup.text()->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    WriteWhenExposed(popup, {{QStringLiteral("kind"), QStringLiteral("window")},
                             {QStringLiteral("title"), popup.windowTitle()},
                             {QStringLiteral("heading"), popup.heading()->text()},
                             {QStringLiteral("text"), text}});
}

void TraceObserver::HistoryShown(HistoryWindow& history)
{
    WriteWhenExposed(history, {{QStringLiteral("kind"), QStringLiteral("history")}});
}

void TraceObserver::Write(const QJsonObject& line) const
{
    if (file_.isEmpty()) return;
    QJsonObject stamped = line;
    stamped.insert(QStringLiteral("shown_ns"), NowNs());
    QFile out(file_);
    if (out.open(QIODevice::Append))
        out.write(QJsonDocument(stamped).toJson(QJsonDocument::Compact) + "\n");
}

void TraceObserver::WriteWhenExposed(QWidget& window, const QJsonObject& line)
{
    if (file_.isEmpty() || !window.windowHandle()) return;
    if (window.windowHandle()->isExposed()) {
        Write(line);
    } else {
        new OnceExposed(window.windowHandle(), [this, line] { Write(line); });
    }
}

}  // namespace vindrel
