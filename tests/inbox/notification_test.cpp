// vindrel-inbox's notifications against python3-dbusmock's notification
// daemon on a session bus of this test's own (dbus-run-session): the exact
// Notify call, the actions and an inline reply, and the windows where there
// is no service.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>

#include "app/inbox/history_window.h"
#include "app/inbox/inbox_app.h"
#include "app/inbox/message_popup.h"
#include "app/inbox/reply_box.h"
#include "tests/inbox/inbox_harness.h"

using vindrel::Display;
using vindrel::InboxApp;
using vindrel::testing::VisibleWindow;

namespace {

// A line as the inbox isolates it.
QString Isolated(const QString& line)
{
    return QChar(0x2068) + line + QChar(0x2069);
}

// The mock daemon, run by this test; its calls are read back through its
// own control interface.
class MockDaemon {
public:
    ~MockDaemon() { Stop(); }

    bool Start()
    {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {"-m", "dbusmock", "--template", "notification_daemon"});
        for (int i = 0; i < 200 && !Running(); ++i) QTest::qWait(25);
        return Running();
    }

    void Stop()
    {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished();
        for (int i = 0; i < 200 && Running(); ++i) QTest::qWait(25);
    }

    bool Running() const
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.Notifications"));
    }

    // Answers GetCapabilities with `capabilities` from now on, forgets the
    // calls so far, and numbers notifications from 1 again.
    void Offer(const QStringList& capabilities)
    {
        QStringList quoted;
        for (const QString& capability : capabilities) quoted << "'" + capability + "'";
        Control().call("AddMethod", "org.freedesktop.Notifications", "GetCapabilities", "", "as",
                       "ret = [" + quoted.join(',') + "]");
        Control().call("AddMethod", "org.freedesktop.Notifications", "Renumber", "", "",
                       "self.next_id = 1");
        QDBusInterface("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                       "org.freedesktop.Notifications")
            .call("Renumber");
        Control().call("ClearCalls");
    }

    // Each Notify call's arguments.
    QList<QVariantList> NotifyCalls()
    {
        QList<QVariantList> calls;
        const QDBusMessage reply = Control().call("GetMethodCalls", "Notify");
        const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            quint64 when;
            QVariantList args;
            list.beginStructure();
            list >> when;
            list.beginArray();
            while (!list.atEnd()) {
                QDBusVariant arg;
                list >> arg;
                args << arg.variant();
            }
            list.endArray();
            list.endStructure();
            calls << args;
        }
        list.endArray();
        return calls;
    }

    void Emit(const QString& signal, const QString& signature, const QVariantList& args)
    {
        QVariantList wrapped;
        for (const QVariant& arg : args) wrapped << QVariant::fromValue(QDBusVariant(arg));
        Control().call("EmitSignal", "org.freedesktop.Notifications", signal, signature, wrapped);
    }

private:
    static QDBusInterface Control()
    {
        return QDBusInterface("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                              "org.freedesktop.DBus.Mock");
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
        QVERIFY(daemon_.Start());
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
        QTest::addColumn<QStringList>("actions");
        const QStringList base{"default", "Show", "reply", "Reply"};
        QTest::newRow("markup escaped")
            << QStringList{"body", "body-markup", "actions"}
            << Isolated("&lt;a href=\"x\"&gt;win&lt;/a&gt; &amp; more") + "\n" + Isolated("two")
            << base;
        QTest::newRow("plain text as it is")
            << QStringList{"body", "actions"}
            << Isolated("<a href=\"x\">win</a> & more") + "\n" + Isolated("two") << base;
        QTest::newRow("inline reply offered")
            << QStringList{"body", "actions", "inline-reply"}
            << Isolated("<a href=\"x\">win</a> & more") + "\n" + Isolated("two")
            << base + QStringList{"inline-reply", "Quick reply"};
    }

    void notifyCarriesTheMessageExactly()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        QFETCH(QStringList, actions);
        daemon_.Offer(capabilities);
        h_.Drop("ALICE", "<a href=\"x\">win</a> & more\ntwo");
        auto app = h_.Start(Display::kNotifications);
        QTRY_COMPARE(daemon_.NotifyCalls().size(), 1);
        const QVariantList args = daemon_.NotifyCalls().first();
        QCOMPARE(args.size(), 8);
        QCOMPARE(args[0].toString(), QStringLiteral("Vindrel"));
        QCOMPARE(args[1].toUInt(), 0u);
        QCOMPARE(args[2].toString(), QStringLiteral("vindrel"));
        QCOMPARE(args[3].toString(), "Message from " + Isolated("ALICE"));
        QCOMPARE(args[4].toString(), body);
        QCOMPARE(args[5].toStringList(), actions);
        const QVariantMap hints = qdbus_cast<QVariantMap>(args[6]);
        QCOMPARE(hints.value("desktop-entry").toString(), QStringLiteral("vindrel-inbox"));
        QCOMPARE(hints.value("category").toString(), QStringLiteral("im.received"));
        QCOMPARE(hints.contains("x-kde-reply-placeholder-text"), actions.size() > 4);
        QCOMPARE(args[7].toInt(), 0);
        QVERIFY(app->Popups().isEmpty());
    }

    void actionsOpenTheReplyAndTheHistory()
    {
        daemon_.Offer({"body", "actions"});
        const QString dave = h_.Drop("DAVE", "printer?");
        const QString alice = h_.Drop("ALICE", "lunch?");
        auto app = h_.Start(Display::kNotifications);  // newest first: ALICE is 1
        QTRY_COMPARE(daemon_.NotifyCalls().size(), 2);
        QTest::qWait(50);  // the daemon's answers, with the ids, reach the inbox

        daemon_.Emit("ActionInvoked", "us", {1u, "reply"});
        QTRY_VERIFY(VisibleWindow<vindrel::ReplyBox>() != nullptr);
        QCOMPARE(VisibleWindow<vindrel::ReplyBox>()->to()->text(), QStringLiteral("ALICE"));
        QVERIFY(app->inbox().Find(alice)->read);

        daemon_.Emit("ActionInvoked", "us", {2u, "default"});
        QTRY_VERIFY(app->history() != nullptr && app->history()->isVisible());
        QCOMPARE(vindrel::testing::Cell(*app->history(),
                                        app->history()->messages()->currentIndex().row(), 1),
                 QStringLiteral("DAVE"));
        QVERIFY(app->inbox().Find(dave)->read);
    }

    // Sent as the reply box sends; one that cannot go is kept in a reply
    // box with the reason over it.
    void anInlineReplyGoesOutAsTheReplyBoxSendsIt()
    {
        daemon_.Offer({"body", "actions", "inline-reply"});
        h_.Drop("DAVE", "printer?");
        h_.Drop("ALICE", "lunch?");
        auto app = h_.Start(Display::kNotifications);  // newest first: ALICE is 1
        QTRY_COMPARE(daemon_.NotifyCalls().size(), 2);
        QTest::qWait(50);
        QSignalSpy done(app.get(), &InboxApp::inlineReplyDone);
        daemon_.Emit("NotificationReplied", "us", {1u, "yes, at one"});
        QVERIFY(done.wait());
        QCOMPARE(h_.sent.size(), 1u);
        QCOMPARE(h_.sent[0].name, QStringLiteral("ALICE"));
        QCOMPARE(h_.sent[0].text,
                 QString::fromStdU16String(vindrel::OutgoingText(u"yes, at one", u"carol")));
        QVERIFY(VisibleWindow<vindrel::ReplyBox>() == nullptr);

        daemon_.Emit("NotificationReplied", "us", {2u, QString(128, 'x')});
        QVERIFY(done.wait());
        QCOMPARE(h_.sent.size(), 1u);
        auto* box = VisibleWindow<vindrel::ReplyBox>();
        QVERIFY(box);
        QCOMPARE(box->to()->text(), QStringLiteral("DAVE"));
        QCOMPARE(box->message()->toPlainText(), QString(128, 'x'));
    }

    // Whatever the service does with a notification, the message stays
    // unread; and notifications count towards the ten open at once.
    void closedIsNotReadAndTenAtMost()
    {
        daemon_.Offer({"body", "actions"});
        auto app = h_.Start(Display::kNotifications);
        for (int i = 0; i < 12; ++i) h_.Drop(QStringLiteral("SPAM%1").arg(i), "x");
        QTRY_VERIFY(app->history() != nullptr && app->history()->isVisible());
        QTRY_COMPARE(daemon_.NotifyCalls().size(), InboxApp::kMaxPopups);
        for (quint32 id = 1; id <= 10; ++id) daemon_.Emit("NotificationClosed", "uu", {id, 2u});
        QTRY_COMPARE(app->inbox().UnreadCount(), 12);
        h_.Drop("LATER", "y");
        QTRY_COMPARE(daemon_.NotifyCalls().size(), InboxApp::kMaxPopups + 1);
    }

    void refusalsReplaceTheirOneNotification()
    {
        daemon_.Offer({"body"});
        auto app = h_.Start(Display::kNotifications);
        for (int refused = 1; refused <= 3; ++refused) {
            QFile count(h_.spool + "/refused");
            QVERIFY(count.open(QIODevice::WriteOnly));
            count.write(QByteArray::number(refused) + "\n");
            count.close();
            app->inbox().Rescan();
            QTRY_COMPARE(daemon_.NotifyCalls().size(), refused);
        }
        const auto calls = daemon_.NotifyCalls();
        QCOMPARE(calls[0][1].toUInt(), 0u);
        QCOMPARE(calls[2][1].toUInt(), 1u);  // the first one's id
        QCOMPARE(calls[2][4].toString(), vindrel::RefusalNotice(3));
    }

    // The user's choice of windows is kept, and without a service windows
    // show whatever the choice.
    void windowsWhenChosenOrWithoutTheService()
    {
        daemon_.Offer({"body"});
        h_.Start(Display::kWindows, false);
        h_.Drop("ALICE", "one");
        auto app = std::make_unique<InboxApp>(h_.spool, h_.state, vindrel::Bindings{});
        QCOMPARE(app->display(), Display::kWindows);
        app->Start();
        QTRY_COMPARE(app->Popups().size(), 1);
        QCOMPARE(daemon_.NotifyCalls().size(), 0);

        daemon_.Stop();
        app->SetDisplay(Display::kNotifications);
        h_.Drop("BOB", "two");
        QTRY_COMPARE(app->Popups().size(), 2);
    }
};

QTEST_MAIN(NotificationTest)
#include "notification_test.moc"
