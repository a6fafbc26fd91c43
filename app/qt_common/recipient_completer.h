// Completion in the To field: the name being typed (the part after the last
// ";") from the recipients sent to before, most recent first, and from the
// LAN's names, which a listing in the background keeps fresh in a cache.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "core/recipient_outcome.h"
#include "platform/lan_names.h"
#include "platform/settings_store.h"

class QCompleter;
class QLineEdit;
class QStringListModel;

namespace vindrel {

// Where the recipients sent to before are kept: beside the To text.
inline constexpr std::u16string_view kRecentKey = u"Recent";
inline constexpr int kMaxRecent = 200;
// The LAN's names are listed again once the cache is older than this.
inline constexpr std::chrono::minutes kNamesRefreshAge{5};

// `recent` with `sent` put in front (the first of them first), each name
// once whatever its case, at most kMaxRecent.
QStringList WithRecent(const QStringList& recent, const QStringList& sent);

class RecipientCompleter : public QObject {
    Q_OBJECT

public:
    RecipientCompleter(QLineEdit& to, SettingsStore& settings, QObject* parent = nullptr);

    // The LAN's names: `list` asks the LAN (on a thread of its own) and its
    // answer is kept at `cache_path`. Without it only recipients complete.
    void SetNameSource(std::function<LanNames()> list, std::string cache_path);

    // Once the window is shown: reads the cache, and lists the LAN again in
    // the background when the cache is missing or older than kNamesRefreshAge.
    void Start();

    // Puts the recipients a send delivered to in front of the recent ones.
    void Remember(const std::vector<RecipientOutcome>& outcomes);

    // None until Start.
    QCompleter* completer() const { return completer_; }

signals:
    // A background listing has been taken in.
    void namesRefreshed();

private:
    void Edited(const QString& text);
    void Insert(const QString& name);
    void Rebuild();
    QStringList StoredRecent();

    QLineEdit& to_;
    SettingsStore& settings_;
    QCompleter* completer_ = nullptr;
    QStringListModel* model_ = nullptr;
    QStringList recent_;
    QStringList lan_;
    std::function<LanNames()> list_;
    std::string cache_path_;
};

}  // namespace vindrel
