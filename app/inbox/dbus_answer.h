// The answer to an asynchronous D-Bus call, handed to a function once it
// comes (or once the call's deadline has passed, as an error): the inbox
// never waits for the session bus on its own thread.
#pragma once

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <utility>

namespace vindrel {

// Runs `then(const QDBusMessage&)` with the answer to `call`, in `owner`'s
// thread, unless `owner` is gone by then.
template <typename Then>
void OnAnswer(QObject* owner, const QDBusPendingCall& call, Then then)
{
    auto* watcher = new QDBusPendingCallWatcher(call, owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner,
                     [watcher, then = std::move(then)] {
                         watcher->deleteLater();
                         then(watcher->reply());
                     });
}

}  // namespace vindrel
