// The desktop's notification service (org.freedesktop.Notifications on the
// session bus): notices sent to it, and what the user does with them there.
// Every call is asynchronous with a deadline, so a slow or stuck service
// never holds up the inbox; a notice it does not take is reported as such.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>
#include <vector>

class QDBusServiceWatcher;

namespace vindrel {

class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    struct Notice {
        QString summary;  // plain text
        QString body;     // plain text; escaped here where the service reads markup
        quint32 replaces = 0;
        // Offers Reply (a window), and a reply typed into the notice itself
        // where the service has that.
        bool reply = false;
        QString reply_placeholder;
        // Offers "Mute sender".
        bool mute = false;
    };

    explicit DesktopNotifications(QObject* parent = nullptr);

    // False where there is no session bus at all.
    bool Connected() const { return bus_.isConnected(); }

    // Hands `notice` to the service. `done` runs once: with the service's id
    // for it, or 0 when there is no service or it did not answer within
    // kCallTimeoutMs. A notice shown by a later answer is taken back at
    // once, so the caller's fallback is the only copy.
    void Show(const Notice& notice, std::function<void(quint32 id)> done);
    // Takes a notice back; a service that has gone is no error.
    void Close(quint32 id);
    // Takes these back before the program ends, waiting at most
    // kCallTimeoutMs in all.
    void CloseNow(const QList<quint32>& ids);

    // The token the service gave with its last action on `id` (its
    // ActivationToken signal), for the window that action raises; once.
    QString TakeActivationToken(quint32 id) { return tokens_.take(id); }

    // The desktop's "do not disturb", where the service says (its
    // Inhibited property); false where it does not.
    bool Inhibited() const { return inhibited_; }

    static constexpr int kCallTimeoutMs = 5000;
    // How long a late answer is still listened for, to take its notice back.
    static constexpr int kLateAnswerMs = 60'000;

signals:
    void actionInvoked(quint32 id, const QString& action);
    void closed(quint32 id, quint32 reason);
    void replied(quint32 id, const QString& text);
    // The service stopped or was replaced: none of its notices are shown.
    void serviceGone();
    // A service took the name, after none or another had it.
    void serviceBack();

private slots:
    // QDBusConnection::connect takes slots by signature only.
    void OnActionInvoked(uint id, const QString& action);
    void OnClosed(uint id, uint reason);
    void OnReplied(uint id, const QString& text);
    void OnActivationToken(uint id, const QString& token);
    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);

private:
    void WithCapabilities(std::function<void()> then);
    void Notify(const Notice& notice, std::function<void(quint32 id)> done);
    void ReadInhibited();

    QDBusConnection bus_;
    QDBusServiceWatcher* watcher_;
    std::optional<QStringList> capabilities_;
    std::vector<std::function<void()>> waiting_;  // for the capabilities
    bool inhibited_ = false;
    QHash<quint32, QString> tokens_;
};

// `text` as the body of a service that reads markup: never a tag or an
// entity of the sender's.
QString EscapeMarkup(const QString& text);

}  // namespace vindrel
