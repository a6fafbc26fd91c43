// vindrel-inbox's notifications against python3-dbusmock's notification
// daemon on a session bus of this test's own (dbus-run-session): the exact
// Notify call, what the user's actions do, and windows where there is no
// service.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QSignalSpy>

#include "app/inbox/reply_target.h"
#include "tests/inbox/inbox_harness.h"

using vindrel::ShowAs;
using vindrel::InboxApp;
using vindrel::testing::VisibleWindow;

namespace {

QString Isolated(const QString& line)
{
    return QChar(0x2068) + line + QChar(0x2069);
}

// The mock daemon (notification_recorder.py), run by this test: Offer()
// sets the capabilities it answers and how late, and forgets what it kept;
// Calls() are its Notify calls, each new one numbered from 1 and a
// replacing one keeping the number it replaces; Closed() the ids taken back.
class MockDaemon {
public:
    ~MockDaemon() { Stop(); }

    bool Start(const QString& capabilities = "body actions")
    {
        process_.start("/usr/bin/python3",
                       {"-m", "dbusmock", "--template", QStringLiteral(RECORDER), "-p",
                        QJsonDocument(QJsonObject{{"capabilities", capabilities}}).toJson()});
        return Wait(true);
    }

    void Stop()
    {
        process_.kill();
        process_.waitForFinished();
        Wait(false);
    }

    static bool Running()
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(kName);
    }

    void Offer(const QStringList& capabilities, double delay_s = 0)
    {
        Call(kName, "Configure", capabilities, delay_s);
    }

    QJsonArray Calls() { return Json("Kept"); }
    QJsonArray Closed() { return Json("Closed"); }

    void Emit(const QString& signal, const QString& signature, const QVariantList& args)
    {
        QVariantList wrapped;
        for (const QVariant& arg : args) wrapped << QVariant::fromValue(QDBusVariant(arg));
        Call("org.freedesktop.DBus.Mock", "EmitSignal", kName, signal, signature, wrapped);
    }

private:
    static constexpr char kName[] = "org.freedesktop.Notifications";

    template <typename... Args>
    static QDBusMessage Call(const QString& interface, const QString& method, Args... args)
    {
        return QDBusInterface(kName, "/org/freedesktop/Notifications", interface)
            .call(method, QVariant(args)...);
    }

    static QJsonArray Json(const QString& method)
    {
        const QString kept = Call(kName, method).arguments().value(0).toString();
        return QJsonDocument::fromJson(kept.toUtf8()).array();
    }

    bool Wait(bool running)
    {
        for (int i = 0; i < 200 && Running() != running; ++i) QTest::qWait(25);
        return Running() == running;
    }

    QProcess process_;
};

}  // namespace

class NotificationTest : public QObject {
    Q_OBJECT

private:
    vindrel::testing::InboxHarness h_;
    MockDaemon daemon_;

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("needs a session bus: run under dbus-run-session");
    }

    void init()
    {
        QVERIFY(h_.Reset());
        if (!daemon_.Running()) QVERIFY(daemon_.Start());
    }

    void cleanup() { vindrel::testing::CloseWindows(); }

    void notifyCarriesTheMessageExactly_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("inline_reply");
        const QString plain = Isolated("<a href=\"x\">win</a> & more") + "\n" + Isolated("two");
        QTest::newRow("markup escaped")
            << QStringList{"body", "body-markup", "actions"}
            << Isolated("&lt;a href=\"x\"&gt;win&lt;/a&gt; &amp; more") + "\n" + Isolated("two")
            << false;
        QTest::newRow("plain text as it is") << QStringList{"body", "actions"} << plain << false;
        QTest::newRow("inline reply offered")
            << QStringList{"body", "actions", "inline-reply"} << plain << true;
    }

    void notifyCarriesTheMessageExactly()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        QFETCH(bool, inline_reply);
        daemon_.Offer(capabilities);
        h_.Drop("ALICE", "<a href=\"x\">win</a> & more\ntwo");
        auto app = h_.Start(ShowAs::kNotifications);
        QTRY_COMPARE(daemon_.Calls().size(), 1);
        QJsonArray actions{"default", "Show", "reply", "Reply"};
        QJsonObject hints{{"desktop-entry", "vindrel-inbox"}, {"category", "im.received"}};
        if (inline_reply) {
            actions << "inline-reply" << "Quick reply";
            hints.insert("x-kde-reply-placeholder-text", "Reply to " + Isolated("ALICE"));
        }
        actions << "mute" << "Mute sender";
        QCOMPARE(daemon_.Calls()[0].toArray(),
                 (QJsonArray{"Vindrel", 0, "vindrel-inbox", "Message from " + Isolated("ALICE"), body,
                             actions, hints, 0}));
        QVERIFY(app->Popups().isEmpty());
    }

    // What was sent is what shows: the invisible characters that reorder or
    // hide text as marks, a TAB as spaces, wherever the text appears.
    void invisibleCharactersShowAsMarks()
    {
        const QString sent = QStringLiteral("Invoice\u202Eexe.pdf\tz\u200B\U000E0041");
        const QString shown = QStringLiteral("Invoice<U+202E>exe.pdf  z<U+200B><U+E0041>");
        daemon_.Offer({"body", "actions"});
        h_.Drop("ALICE", sent);
        auto app = h_.Start(ShowAs::kNotifications);
        QTRY_COMPARE(daemon_.Calls().size(), 1);
        QCOMPARE(daemon_.Calls()[0][4].toString(), Isolated(shown));
        app->ShowHistory();
        QCOMPARE(vindrel::testing::Cell(*app->history(), 0, 3), shown);
        vindrel::testing::SelectRow(*app->history(), 0);
        QCOMPARE(vindrel::testing::Raw(*app->history()->text()), shown);
        app->SetShowAs(ShowAs::kWindows);
        h_.Drop("ALICE", sent);
        QTRY_COMPARE(app->Popups().size(), 1);
        QCOMPARE(vindrel::testing::Raw(*app->Popups()[0]->text()), shown);
    }

    // Reply opens the reply box, the notification itself the history; a
    // reply typed into it goes out as the reply box would send it, and one
    // that cannot go is kept in a reply box with the reason over it.
    void theUsersActions()
    {
        daemon_.Offer({"body", "actions", "inline-reply"});
        for (const char* from : {"EVE", "CAROL", "DAVE", "ALICE"}) h_.Drop(from, "lunch?");
        auto app = h_.Start(ShowAs::kNotifications);  // newest first: ALICE is 1, EVE 4
        QTRY_COMPARE(daemon_.Calls().size(), 4);
        QTest::qWait(50);  // the daemon's answers, with the ids, reach the inbox

        daemon_.Emit("ActionInvoked", "us", {1u, "reply"});
        QTRY_VERIFY(VisibleWindow<vindrel::ReplyBox>() != nullptr);
        QCOMPARE(VisibleWindow<vindrel::ReplyBox>()->to()->text(), QStringLiteral("ALICE"));
        VisibleWindow<vindrel::ReplyBox>()->close();

        daemon_.Emit("ActionInvoked", "us", {2u, "default"});
        QTRY_VERIFY(app->history() != nullptr && app->history()->isVisible());
        const int row = app->history()->messages()->currentIndex().row();
        QCOMPARE(vindrel::testing::Cell(*app->history(), row, 1), QStringLiteral("DAVE"));

        QSignalSpy done(app.get(), &InboxApp::inlineReplyDone);
        daemon_.Emit("NotificationReplied", "us", {3u, "yes, at one"});
        QVERIFY(done.wait());
        QCOMPARE(h_.sent.size(), 1u);
        QCOMPARE(h_.sent[0].name, QStringLiteral("CAROL"));
        QCOMPARE(h_.sent[0].text,
                 QString::fromStdU16String(vindrel::OutgoingText(u"yes, at one", u"carol")));
        QVERIFY(VisibleWindow<vindrel::ReplyBox>() == nullptr);

        daemon_.Emit("NotificationReplied", "us", {4u, QString(128, 'x')});
        QVERIFY(done.wait());
        QCOMPARE(h_.sent.size(), 1u);
        QVERIFY(VisibleWindow<vindrel::ReplyBox>() != nullptr);
        QCOMPARE(VisibleWindow<vindrel::ReplyBox>()->to()->text(), QStringLiteral("EVE"));
        QCOMPARE(VisibleWindow<vindrel::ReplyBox>()->message()->toPlainText(), QString(128, 'x'));
        QCOMPARE(app->inbox().UnreadCount(), 0);
    }

    // Whatever the service does with a notification, the message stays
    // unread; ten are shown at once, and the rest of a flood is announced
    // by one summary, replaced in place, whose Show opens the history; a
    // notification closed frees its place. The observer hears of each
    // as the service numbered it.
    void closedIsNotReadAndTenAtMost()
    {
        daemon_.Offer({"body", "actions"});
        auto app = h_.Start(ShowAs::kNotifications);
        vindrel::testing::ToldObserver observer;
        app->SetObserver(&observer);
        for (int i = 0; i < 12; ++i) h_.Drop(QStringLiteral("SPAM%1").arg(i), "x");
        QTRY_VERIFY(!daemon_.Calls().isEmpty() &&
                    daemon_.Calls().last()[4].toString() == "2 more messages");
        const QJsonArray calls = daemon_.Calls();
        QCOMPARE(calls.size(), InboxApp::kMaxPopups + 2);  // the summary's 1, then its 2
        QCOMPARE(calls.last()[1].toInt(), InboxApp::kMaxPopups + 1);  // in place
        QVERIFY(app->history() == nullptr);
        daemon_.Emit("ActionInvoked", "us", {11u, "default"});
        QTRY_VERIFY(app->history() != nullptr && app->history()->isVisible());
        QStringList told;
        for (int id = 1; id <= 10; ++id) told << QStringLiteral("notification %1").arg(id);
        told << "summary 11 of 1" << "summary 11 of 2" << "history";
        // The service's answers may come back in any order on a busy machine.
        QStringList heard = observer.told;
        heard.sort();
        told.sort();
        QCOMPARE(heard, told);

        for (quint32 id = 1; id <= 10; ++id) daemon_.Emit("NotificationClosed", "uu", {id, 2u});
        QTRY_COMPARE(app->inbox().UnreadCount(), 12);
        h_.Drop("LATER", "y");
        QTRY_COMPARE(daemon_.Calls().size(), calls.size() + 1);
        QCOMPARE(daemon_.Calls().last()[3].toString(), "Message from " + Isolated("LATER"));
    }

    // 50 in a day, every notification left open: each announced at once.
    void aServerThatNeverClosesStillHearsOfEveryMessage()
    {
        daemon_.Offer({"body", "actions"});
        auto app = h_.Start(ShowAs::kNotifications);
        for (int i = 0; i < 50; ++i) {
            h_.Drop(QStringLiteral("S%1").arg(i), "x");
            app->inbox().Rescan();
            const QString more = QStringLiteral("%1 more messages").arg(i + 1 - 10);
            if (i >= 11)
                QTRY_COMPARE_WITH_TIMEOUT(daemon_.Calls().last()[4].toString(), more, 2000);
        }
        QVERIFY(app->Popups().isEmpty() && app->history() == nullptr);
    }

    // A server that answers after the deadline: the window is the one copy,
    // the late notification taken back.
    void aLateAnswerLeavesOneCopy()
    {
        daemon_.Offer({"body", "actions"}, 6);
        h_.Drop("ALICE", "slow");
        auto app = h_.Start(ShowAs::kNotifications);
        QTRY_COMPARE_WITH_TIMEOUT(app->Popups().size(), 1, 8000);
        QTRY_COMPARE_WITH_TIMEOUT(daemon_.Closed(), QJsonArray{1}, 8000);
        daemon_.Offer({"body", "actions"});
    }

    // A restarted server has none of ours: what is unread is announced again
    // as one summary. Quitting takes ours back.
    void aRestartAnnouncesAgainAndQuittingCloses()
    {
        daemon_.Offer({"body", "actions"});
        for (const char* from : {"ALICE", "BOB", "CAROL"}) h_.Drop(from, "hi");
        auto app = h_.Start(ShowAs::kNotifications);
        QTRY_COMPARE(daemon_.Calls().size(), 3);
        daemon_.Stop();
        QVERIFY(daemon_.Start());
        QTRY_COMPARE(daemon_.Calls().size(), 1);
        QCOMPARE(daemon_.Calls()[0][4].toString(), QStringLiteral("3 unread messages"));
        h_.Drop("DAVE", "again");
        QTRY_COMPARE(daemon_.Calls().size(), 2);
        QTest::qWait(50);  // the daemon's answer, with the id, reaches the inbox
        app.reset();
        QCOMPARE(daemon_.Closed(), (QJsonArray{2, 1}));
    }

    // A name any peer may choose that would reach others: no Reply, no
    // Quick reply, the reason where they would be, nothing sent.
    void noReplyToANameThatIsNotOneComputer_data()
    {
        QTest::addColumn<QString>("from");
        QTest::newRow("every computer") << "*";
        QTest::newRow("two names") << "ALICE;CAROL";
    }

    void noReplyToANameThatIsNotOneComputer()
    {
        QFETCH(QString, from);
        daemon_.Offer({"body", "actions", "inline-reply"});
        h_.Drop(from, "hi all");
        auto app = h_.Start(ShowAs::kNotifications);
        QTRY_COMPARE(daemon_.Calls().size(), 1);
        const QJsonArray call = daemon_.Calls()[0].toArray();
        QCOMPARE(call[5].toArray(), (QJsonArray{"default", "Show", "mute", "Mute sender"}));
        const QString why = vindrel::ReplyRefusalText(vindrel::ReplyRefusalFor(from));
        QVERIFY(call[4].toString().endsWith("\n" + why));
        QTest::qWait(50);
        daemon_.Emit("NotificationReplied", "us", {1u, "to all"});
        daemon_.Emit("ActionInvoked", "us", {1u, "reply"});
        QTest::qWait(200);
        QVERIFY(h_.sent.empty());
        QVERIFY(VisibleWindow<vindrel::ReplyBox>() == nullptr);

        app->ShowHistory();
        vindrel::testing::SelectRow(*app->history(), 0);
        QVERIFY(!app->history()->replyButton()->isEnabled());
        QCOMPARE(app->history()->replyNote()->text(), why);
        app->SetShowAs(ShowAs::kWindows);
        h_.Drop(from, "again");
        QTRY_COMPARE(app->Popups().size(), 1);
        QVERIFY(!app->Popups()[0]->reply()->isEnabled());
        QCOMPARE(app->Popups()[0]->replyNote()->text(), why);
    }

    void refusalsReplaceTheirOneNotification()
    {
        daemon_.Offer({"body"});
        auto app = h_.Start(ShowAs::kNotifications);
        for (int refused = 1; refused <= 3; ++refused) {
            h_.SetRefused(refused);
            app->inbox().Rescan();
            QTRY_COMPARE(daemon_.Calls().size(), refused);
        }
        QCOMPARE(daemon_.Calls()[0][4].toString(),
                 QStringLiteral("1 message could not be kept because the inbox, or its sender's "
                                "share of it, was full."));
        const QJsonArray last = daemon_.Calls()[2].toArray();
        QCOMPARE(last[1].toInt(), 1);  // in place of the first
        QCOMPARE(last[4].toString(), vindrel::RefusalNotice(3));
        QTest::qWait(50);
        daemon_.Emit("ActionInvoked", "us", {1u, "default"});  // its Show
        QTRY_VERIFY(app->history() != nullptr && app->history()->isVisible());
    }

    // The user's choice of windows is kept, and without a service windows
    // show whatever the choice.
    void windowsWhenChosenOrWithoutTheService()
    {
        daemon_.Offer({"body"});
        h_.Start(ShowAs::kWindows, false);
        h_.Drop("ALICE", "one");
        auto app = std::make_unique<InboxApp>(h_.spool, h_.state, vindrel::Bindings{});
        QCOMPARE(app->show_as(), ShowAs::kWindows);
        app->Start();
        QTRY_COMPARE(app->Popups().size(), 1);
        QCOMPARE(daemon_.Calls().size(), 0);

        daemon_.Stop();
        app->SetShowAs(ShowAs::kNotifications);
        h_.Drop("BOB", "two");
        QTRY_COMPARE(app->Popups().size(), 2);
        // The mode in use, shown; pop-ups paused from the history's menu.
        app->ShowHistory();
        QCOMPARE(app->history()->show_as()->currentText(),
                 QStringLiteral("windows (no notification service)"));
        app->history()->pauseAction()->trigger();
        h_.Drop("CAROL", "three");
        QTRY_COMPARE(app->inbox().UnreadCount(), 3);
        QTest::qWait(100);
        QCOMPARE(app->Popups().size(), 2);
    }

    // Windows keep to the desktop's "do not disturb" where the service
    // tells it.
    void windowsKeepToDoNotDisturb()
    {
        QDBusInterface("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                       "org.freedesktop.DBus.Mock")
            .call("AddProperty", "org.freedesktop.Notifications", "Inhibited", QVariant(true));
        auto app = h_.Start(ShowAs::kWindows);
        QTest::qWait(100);
        h_.Drop("ALICE", "quiet please");
        QTRY_COMPARE(app->inbox().UnreadCount(), 1);
        QTest::qWait(200);
        QVERIFY(app->Popups().isEmpty() && app->history() == nullptr);
        daemon_.Stop();
    }
};

QTEST_MAIN(NotificationTest)
#include "notification_test.moc"
