// The tests' and the benchmark's record of what vindrel-inbox showed: one
// JSON line per notification, summary, pop-up and history window, each
// stamped with the moment it was shown (steady clock, ns). A window counts
// once the window system has put it on the screen, not when it was asked to.
#pragma once

#include <QJsonObject>
#include <QString>
#include <utility>

#include "app/inbox/inbox_observer.h"

class QWidget;

namespace vindrel {

class TraceObserver : public InboxObserver {
public:
    // Appends to `file`; an empty name writes nothing.
    explicit TraceObserver(QString file) : file_(std::move(file)) {}

    void NotificationShown(quint32 id, const QString& title, const QString& text) override;
    void SummaryNotified(quint32 id, int count) override;
    void PopupShown(MessagePopup& popup) override;
    void HistoryShown(HistoryWindow& history) override;

private:
    void Write(const QJsonObject& line) const;
    void WriteWhenExposed(QWidget& window, const QJsonObject& line);

    QString file_;
};

}  // namespace vindrel
