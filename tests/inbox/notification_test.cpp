// vindrel-inbox's notifications against python3-dbusmock's notification
// daemon on a session bus of this test's own (dbus-run-session): the exact
// Notify call, what the user's actions do, and windows where there is no
// service.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>

#include "tests/inbox/inbox_harness.h"

using vindrel::ShowAs;
using vindrel::InboxApp;
using vindrel::testing::VisibleWindow;

namespace {

QString Isolated(const QString& line)
{
    return QChar(0x2068) + line + QChar(0x2069);
}

// The mock daemon, run by this test. Offer() sets the capabilities it
// answers and has it keep each Notify call for Calls(), each new one
// numbered from 1 and a replacing one keeping the number it replaces.
class MockDaemon {
public:
    ~MockDaemon() { Stop(); }

    bool Start()
    {
        process_.start("/usr/bin/python3", {"-m", "dbusmock", "--template", "notification_daemon"});
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

    void Offer(const QStringList& capabilities)
    {
        Mock("AddMethod", kName, "GetCapabilities", "", "as",
             "ret = ['" + capabilities.join("', '") + "']");
        Mock("AddMethod", kName, "Notify", "susssasa{sv}i", "u",
             "self.kept = getattr(self, 'kept', []) + [list(args)]; ret = args[1] or "
             "len(self.kept)");
        Mock("AddMethod", kName, "Kept", "", "s", "import json; ret = json.dumps(self.kept)");
        Mock("AddMethod", kName, "Forget", "", "", "self.kept = []");
        Call("org.freedesktop.Notifications", "Forget");
    }

    QJsonArray Calls()
    {
        const QString kept = Call(kName, "Kept").arguments().value(0).toString();
        return QJsonDocument::fromJson(kept.toUtf8()).array();
    }

    void Emit(const QString& signal, const QString& signature, const QVariantList& args)
    {
        QVariantList wrapped;
        for (const QVariant& arg : args) wrapped << QVariant::fromValue(QDBusVariant(arg));
        Mock("EmitSignal", kName, signal, signature, wrapped);
    }

private:
    static constexpr char kName[] = "org.freedesktop.Notifications";

    template <typename... Args>
    static QDBusMessage Call(const QString& interface, const QString& method, Args... args)
    {
        return QDBusInterface(kName, "/org/freedesktop/Notifications", interface)
            .call(method, QVariant(args)...);
    }

    template <typename... Args>
    static void Mock(const QString& method, Args... args)
    {
        Call("org.freedesktop.DBus.Mock", method, args...);
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
        QCOMPARE(daemon_.Calls()[0].toArray(),
                 (QJsonArray{"Vindrel", 0, "vindrel-inbox", "Message from " + Isolated("ALICE"), body,
                             actions, hints, 0}));
        QVERIFY(app->Popups().isEmpty());
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
    // unread; and notifications count towards the ten open at once.
    void closedIsNotReadAndTenAtMost()
    {
        daemon_.Offer({"body", "actions"});
        auto app = h_.Start(ShowAs::kNotifications);
        for (int i = 0; i < 12; ++i) h_.Drop(QStringLiteral("SPAM%1").arg(i), "x");
        QTRY_VERIFY(app->history() != nullptr && app->history()->isVisible());
        QTRY_COMPARE(daemon_.Calls().size(), InboxApp::kMaxPopups);
        for (quint32 id = 1; id <= 10; ++id) daemon_.Emit("NotificationClosed", "uu", {id, 2u});
        QTRY_COMPARE(app->inbox().UnreadCount(), 12);
        h_.Drop("LATER", "y");
        QTRY_COMPARE(daemon_.Calls().size(), InboxApp::kMaxPopups + 1);
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
        const QJsonArray last = daemon_.Calls()[2].toArray();
        QCOMPARE(last[1].toInt(), 1);  // in place of the first
        QCOMPARE(last[4].toString(), vindrel::RefusalNotice(3));
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
    }
};

QTEST_MAIN(NotificationTest)
#include "notification_test.moc"
