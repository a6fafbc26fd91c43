// Muted senders and their editor.
#include "app/inbox/muted_senders.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "app/inbox/lan_text.h"

namespace vindrel {
namespace {

constexpr char kMutedKey[] = "muted senders";

QSettings Settings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("vindrel"),
                     QStringLiteral("inbox"));
}

QString Key(const QString& from)
{
    return from.trimmed().toCaseFolded();
}

}  // namespace

MutedSenders::MutedSenders(QObject* parent)
    : QObject(parent), names_(Settings().value(kMutedKey, QStringList()).toStringList())
{
}

bool MutedSenders::Contains(const QString& from) const
{
    const QString key = Key(from);
    for (const QString& name : names_)
        if (Key(name) == key) return true;
    return false;
}

void MutedSenders::Add(const QString& from)
{
    if (from.trimmed().isEmpty() || Contains(from)) return;
    names_.append(from.trimmed());
    Save();
    emit changed();
}

void MutedSenders::Remove(const QString& from)
{
    const QString key = Key(from);
    if (names_.removeIf([&](const QString& name) { return Key(name) == key; }) == 0) return;
    Save();
    emit changed();
}

void MutedSenders::Save() const
{
    QSettings settings = Settings();
    settings.setValue(kMutedKey, names_);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("vindrel-inbox: cannot save the muted senders");
}

MutedSendersDialog::MutedSendersDialog(MutedSenders& muted, QWidget* parent)
    : QDialog(parent), muted_(muted)
{
    setObjectName(QStringLiteral("muted"));
    setWindowTitle(QStringLiteral("Muted senders"));
    auto* intro = new QLabel(
        QStringLiteral("Messages from these senders are kept in the history but not shown as "
                       "they arrive."),
        this);
    intro->setWordWrap(true);
    names_ = new QListWidget(this);
    names_->setObjectName(QStringLiteral("names"));
    auto* names_label = new QLabel(QStringLiteral("&Muted:"), this);
    names_label->setBuddy(names_);
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("name"));
    auto* name_label = new QLabel(QStringLiteral("&Sender:"), this);
    name_label->setBuddy(name_);
    add_ = new QPushButton(QStringLiteral("&Add"), this);
    remove_ = new QPushButton(QStringLiteral("&Remove"), this);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* adding = new QHBoxLayout;
    adding->addWidget(name_label);
    adding->addWidget(name_, 1);
    adding->addWidget(add_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(names_label);
    layout->addWidget(names_, 1);
    layout->addWidget(remove_);
    layout->addLayout(adding);
    layout->addWidget(close);

    connect(add_, &QPushButton::clicked, this, [this] {
        muted_.Add(name_->text());
        name_->clear();
    });
    connect(remove_, &QPushButton::clicked, this, [this] {
        if (const QListWidgetItem* item = names_->currentItem())
            muted_.Remove(item->data(Qt::UserRole).toString());
    });
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(&muted_, &MutedSenders::changed, this, &MutedSendersDialog::Fill);
    Fill();
}

void MutedSendersDialog::Fill()
{
    names_->clear();
    for (const QString& name : muted_.Names()) {
        auto* item = new QListWidgetItem(VisibleControls(name), names_);
        item->setData(Qt::UserRole, name);
    }
    remove_->setEnabled(!muted_.Names().isEmpty());
    if (names_->count() > 0) names_->setCurrentRow(0);
}

}  // namespace vindrel
