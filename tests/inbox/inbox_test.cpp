// vindrel-inbox on the offscreen platform: records placed in a temporary
// spool show in pop-ups and the history with their exact text, read state
// outlives the program, and Reply sends through the core to a fake send.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <memory>
#include <unistd.h>

#include "app/inbox/history_window.h"
#include "app/inbox/inbox_app.h"
#include "app/inbox/message_popup.h"
#include "app/inbox/reply_box.h"
#include "app/spool/spool_dir.h"
#include "core/dispatch.h"

using vindrel::InboxApp;

namespace {

// A text that a plain-text conversion would change: a line break, a
// no-break space, accents.
const QString kText = QStringLiteral("Gr\u00fc\u00dfe, caf\u00e9\n\u00a0second line  ");

QString Raw(const QPlainTextEdit& edit)
{
    QString text = edit.document()->toRawText();
    return text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

struct Sent {
    QString name, text;
};

}  // namespace

class InboxTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString spool_, state_;
    std::vector<Sent> sent_;
    int next_ms_ = 0;

    QString Drop(const QString& from, const QString& text, qint64 received_ms = 0)
    {
        const vindrel::spool::Record record{
            received_ms ? received_ms : 1'796'000'000'000 + ++next_ms_ * 60'000, from.toStdString(),
            "BOB", text.toStdString()};
        const auto stored = vindrel::spool::StoreRecord(spool_.toStdString(), record);
        return QString::fromStdString(stored.name);
    }

    std::unique_ptr<InboxApp> Start()
    {
        vindrel::Bindings fake{[this](std::u16string_view name, std::u16string_view text) {
                                   sent_.push_back({QString::fromUtf16(name.data(), name.size()),
                                                    QString::fromUtf16(text.data(), text.size())});
                                   return vindrel::NetStatus{0};
                               },
                               [] { return std::u16string(u"carol"); }};
        auto app = std::make_unique<InboxApp>(spool_, state_, fake);
        app->Start();
        return app;
    }

    static vindrel::MessagePopup* OnlyPopup(InboxApp& app)
    {
        const auto popups = app.Popups();
        return popups.size() == 1 ? popups.first() : nullptr;
    }

private slots:
    void init()
    {
        QVERIFY(dir_.isValid());
        const QString run = dir_.path() + QStringLiteral("/run%1").arg(next_ms_++);
        spool_ = run + "/spool";
        state_ = run + "/state/inbox-state";
        QVERIFY(QDir().mkpath(spool_));
        sent_.clear();
    }

    void arrivalShowsPopupAndHistoryWithExactText()
    {
        auto app = Start();
        QVERIFY(app->Popups().isEmpty());
        // Files that are not records, or not sound ones, never show.
        QFile junk(spool_ + "/1-1-deadbeef.msg");
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("vindrel-message 1\nreceived 5\nfrom X\nto Y\nlength 99\n\nshort");
        junk.close();
        QFile::link(spool_ + "/1-1-deadbeef.msg", spool_ + "/2-2-deadbeef.msg");

        const QString id = Drop(QStringLiteral("ALICE"), kText);
        QTRY_VERIFY_WITH_TIMEOUT(OnlyPopup(*app) != nullptr, 1000);
        vindrel::MessagePopup* popup = OnlyPopup(*app);
        const vindrel::InboxMessage* message = app->inbox().Find(id);
        QVERIFY(message);
        QCOMPARE(popup->windowTitle(), QStringLiteral("Message from ALICE"));
        QCOMPARE(popup->heading()->text(),
                 QStringLiteral("Message from ALICE to BOB on ") +
                     vindrel::LocalTimeText(message->received_ms));
        QCOMPARE(Raw(*popup->text()), kText);
        QVERIFY(popup->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(popup->windowFlags() & Qt::WindowDoesNotAcceptFocus);
        QVERIFY(popup->testAttribute(Qt::WA_ShowWithoutActivating));
        for (QWidget* child : popup->findChildren<QWidget*>())
            QCOMPARE(child->focusPolicy(), Qt::NoFocus);
        QCOMPARE(app->inbox().UnreadCount(), 1);

        app->ShowHistory();
        QTreeWidget* list = app->history()->messages();
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("ALICE"));
        QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("BOB"));
        QCOMPARE(list->topLevelItem(0)->text(3), kText.section('\n', 0, 0));
        QVERIFY(list->topLevelItem(0)->font(0).bold());
        list->topLevelItem(0)->setSelected(true);
        QCOMPARE(Raw(*app->history()->text()), kText);
        QCOMPARE(app->inbox().UnreadCount(), 0);
        QVERIFY(!list->topLevelItem(0)->font(0).bold());
    }

    void historyIsNewestFirstAndDeleteHidesForThisUserOnly()
    {
        Drop("OLD", "first", 1'000'000);
        Drop("NEW", "third", 3'000'000);
        Drop("MID", "second", 2'000'000);
        auto app = Start();
        app->ShowHistory();
        QTreeWidget* list = app->history()->messages();
        QStringList order;
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            order << list->topLevelItem(row)->text(1);
        QCOMPARE(order, (QStringList{"NEW", "MID", "OLD"}));
        list->topLevelItem(1)->setSelected(true);
        QTest::mouseClick(app->history()->deleteButton(), Qt::LeftButton);
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(vindrel::spool::ListRecordNames(spool_.toStdString()).value().size(), 3u);
    }

    void aFloodOpensAtMostTenPopupsAndTheHistory()
    {
        auto app = Start();
        for (int i = 0; i < 15; ++i) Drop(QStringLiteral("SPAM%1").arg(i), "x");
        QTRY_VERIFY(app->history() != nullptr && app->history()->isVisible());
        QCOMPARE(app->Popups().size(), InboxApp::kMaxPopups);
        QVERIFY(app->history()->testAttribute(Qt::WA_ShowWithoutActivating));
        QCOMPARE(app->history()->messages()->topLevelItemCount(), 15);
        QCOMPARE(app->inbox().UnreadCount(), 15);
    }

    void readAndDeletedStateSurviveARestart()
    {
        const QString first = Drop("ALICE", "one");
        const QString second = Drop("ALICE", "two");
        Drop("ALICE", "three");
        {
            auto app = Start();
            QTRY_COMPARE(app->Popups().size(), 3);
            for (vindrel::MessagePopup* popup : app->Popups()) {
                if (popup->MessageId() == first) QTest::mouseClick(popup->ok(), Qt::LeftButton);
            }
            app->inbox().Delete(second);
            QCOMPARE(app->inbox().UnreadCount(), 1);
        }
        auto again = Start();
        QTRY_COMPARE(again->Popups().size(), 1);  // only the one still unread
        QCOMPARE(again->inbox().Messages().size(), 2u);
        QVERIFY(again->inbox().Find(first)->read);
        QVERIFY(!again->inbox().Find(second));
        QCOMPARE(again->inbox().UnreadCount(), 1);
    }

    void replySendsToTheSenderThroughTheCore()
    {
        qputenv("XDG_CONFIG_HOME", (dir_.path() + "/config").toUtf8());
        Drop("ALICE", "lunch?");
        auto app = Start();
        QTRY_VERIFY(OnlyPopup(*app) != nullptr);
        QTest::mouseClick(OnlyPopup(*app)->reply(), Qt::LeftButton);
        vindrel::ReplyBox* box = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* found = qobject_cast<vindrel::ReplyBox*>(window); found && found->isVisible())
                box = found;
        QVERIFY(box);
        QCOMPARE(box->to()->text(), QStringLiteral("ALICE"));
        QCOMPARE(box->message()->toPlainText(), QString());
        QPointer<vindrel::ReplyBox> alive(box);

        // Too long: the main window's notice, nothing sent, the box kept.
        box->message()->setPlainText(QString(128, 'x'));
        QString notice;
        QTimer::singleShot(0, [&] {
            auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!shown) return;
            notice = shown->text();
            shown->accept();
        });
        box->Send();
        QCOMPARE(notice, QString::fromStdU16String(vindrel::OverLengthNotice(128)));
        QVERIFY(sent_.empty());
        QVERIFY(alive && alive->isVisible());

        box->message()->setPlainText(QStringLiteral("yes, at one"));
        QTest::mouseClick(box->send(), Qt::LeftButton);
        QCOMPARE(sent_.size(), 1u);
        QCOMPARE(sent_[0].name, QStringLiteral("ALICE"));
        QCOMPARE(sent_[0].text,
                 QString::fromStdU16String(vindrel::OutgoingText(u"yes, at one", u"carol")));
        QTRY_VERIFY(!alive || !alive->isVisible());
        // The main window's remembered To text is not the reply's.
        QVERIFY(!QFile::exists(dir_.path() + "/config/Vindrel.ini"));
    }

    void refusalsAreToldOnceWithTheirCount()
    {
        QFile count(spool_ + "/refused");
        QVERIFY(count.open(QIODevice::WriteOnly));
        count.write("3\n");
        count.close();
        auto app = Start();
        QMessageBox* told = nullptr;
        QTRY_VERIFY((told = VisibleBox()) != nullptr);
        QCOMPARE(told->text(),
                 QStringLiteral("3 messages could not be kept because the inbox was full."));
        told->close();
        app->ShowHistory();
        QCOMPARE(app->history()->notice()->text(), told->text());
        // Told already: a restart says nothing more.
        app.reset();
        QTRY_VERIFY(VisibleBox() == nullptr);
        app = Start();
        QTest::qWait(50);
        QVERIFY(VisibleBox() == nullptr);
    }

private:
    static QMessageBox* VisibleBox()
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible()) return box;
        return nullptr;
    }
};

QTEST_MAIN(InboxTest)
#include "inbox_test.moc"
