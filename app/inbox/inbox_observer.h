// What vindrel-inbox has shown, told as it happens to whoever wants to know:
// the tests and the benchmark, which cannot read a window's or a
// notification's text. The program itself installs none.
#pragma once

#include <QString>
#include <QtGlobal>

namespace vindrel {

class HistoryWindow;
class MessagePopup;

// Every method does nothing by default, so this class is also the null
// observer. Each is called on the window thread and must return quickly.
class InboxObserver {
public:
    virtual ~InboxObserver() = default;

    // A message's notification was taken by the service as `id`, with this
    // title and body as sent.
    virtual void NotificationShown(quint32 /*id*/, const QString& /*title*/,
                                   const QString& /*text*/) {}
    // The summary of `count` messages was answered: `id` is the service's,
    // 0 when none took it (a window follows then).
    virtual void SummaryNotified(quint32 /*id*/, int /*count*/) {}
    // A message's pop-up has just been shown; the window system may not
    // have put it on the screen yet.
    virtual void PopupShown(MessagePopup& /*popup*/) {}
    // The history window has just been shown, having been hidden or new;
    // likewise perhaps not on the screen yet.
    virtual void HistoryShown(HistoryWindow& /*history*/) {}
};

}  // namespace vindrel
