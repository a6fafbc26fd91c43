// The To field's completer.
#include "app/qt_common/recipient_completer.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QPointer>
#include <QStringListModel>
#include <QThread>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include "core/send_action.h"
#include "platform/qt/qt_text.h"

namespace vindrel {
namespace {

// The name being typed: after the last ";", without its leading spaces.
QString TypedName(const QString& text)
{
    return text.mid(text.lastIndexOf(u';') + 1).trimmed();
}

bool CacheIsFresh(const std::string& path)
{
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    return !error && std::filesystem::file_time_type::clock::now() - written < kNamesRefreshAge;
}

QStringList NamesOf(const std::vector<LanName>& names)
{
    QStringList out;
    for (const LanName& name : names) out << ToQString(name.name);
    return out;
}

}  // namespace

QStringList WithRecent(const QStringList& recent, const QStringList& sent)
{
    QStringList out;
    for (const QStringList* list : {&sent, &recent})
        for (const QString& name : *list)
            if (out.size() < kMaxRecent && !name.isEmpty() &&
                !out.contains(name, Qt::CaseInsensitive))
                out << name;
    return out;
}

RecipientCompleter::RecipientCompleter(QLineEdit& to, SettingsStore& settings, QObject* parent)
    : QObject(parent), to_(to), settings_(settings)
{
}

void RecipientCompleter::SetNameSource(std::function<LanNames()> list, std::string cache_path)
{
    list_ = std::move(list);
    cache_path_ = std::move(cache_path);
}

QStringList RecipientCompleter::StoredRecent()
{
    return ToQString(settings_.Read(kSettingsApplication, kSettingsSection, kRecentKey, u""))
        .split(u';', Qt::SkipEmptyParts);
}

void RecipientCompleter::Start()
{
    // Made here, not with the window: start-up pays for none of it.
    completer_ = new QCompleter(this);
    model_ = new QStringListModel(this);
    completer_->setModel(model_);
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setWidget(&to_);
    connect(&to_, &QLineEdit::textEdited, this, &RecipientCompleter::Edited);
    connect(completer_, qOverload<const QString&>(&QCompleter::activated), this,
            &RecipientCompleter::Insert);

    recent_ = StoredRecent();
    if (const auto cached = ReadNameCache(cache_path_)) lan_ = NamesOf(*cached);
    Rebuild();
    if (!list_ || cache_path_.empty() || CacheIsFresh(cache_path_)) return;

    // The listing takes up to the "*" limit: never on the window's thread.
    auto listed = std::make_shared<LanNames>();
    QThread* worker = QThread::create([list = list_, path = cache_path_, listed] {
        *listed = list();
        WriteNameCache(path, listed->names);
    });
    QPointer<RecipientCompleter> self(this);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [self, listed] {
        if (!self) return;
        self->lan_ = NamesOf(listed->names);
        self->Rebuild();
        emit self->namesRefreshed();
    });
    worker->start(QThread::LowPriority);
}

void RecipientCompleter::Remember(const std::vector<RecipientOutcome>& outcomes)
{
    QStringList sent;
    for (const RecipientOutcome& outcome : outcomes)
        if (outcome.Delivered() && outcome.name != u"*") sent << ToQString(outcome.name);
    if (sent.isEmpty()) return;
    // From the store: a send may come before Start.
    recent_ = WithRecent(StoredRecent(), sent);
    // Completion only: a list not kept costs nothing but its suggestions.
    settings_.Write(kSettingsApplication, kSettingsSection, kRecentKey,
                    recent_.join(u';').toStdU16String());
    Rebuild();
}

void RecipientCompleter::Edited(const QString& text)
{
    const QString typed = TypedName(text);
    if (typed.isEmpty()) {
        completer_->popup()->hide();
        return;
    }
    completer_->setCompletionPrefix(typed);
    completer_->complete();
}

void RecipientCompleter::Insert(const QString& name)
{
    const QString text = to_.text();
    const qsizetype cut = text.lastIndexOf(u';') + 1;
    // Keep the spaces typed after the ";".
    qsizetype at = cut;
    while (at < text.size() && text[at] == u' ') ++at;
    to_.setText(text.left(at) + name);
}

void RecipientCompleter::Rebuild()
{
    if (!model_) return;
    QStringList names = recent_;
    for (const QString& name : lan_)
        if (!names.contains(name, Qt::CaseInsensitive)) names << name;
    model_->setStringList(names);
}

}  // namespace vindrel
