// vindrel-inbox on the offscreen platform: records placed in a temporary
// spool show in pop-ups and the history with their exact text, read state
// outlives the program, Reply sends through the core to a fake send, and
// hostile spools, state files and texts change nothing they should not.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCompleter>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

#include "app/inbox/history_window.h"
#include "app/inbox/inbox_app.h"
#include "app/inbox/instance_dir.h"
#include "app/inbox/lan_text.h"
#include "app/inbox/list_command.h"
#include "app/inbox/message_popup.h"
#include "app/inbox/read_state.h"
#include "app/inbox/reply_box.h"
#include "app/qt_common/recipient_completer.h"
#include "core/dispatch.h"
#include "core/prompt_texts.h"
#include "platform/qt/settings_store_qt.h"
#include "receive/spool_dir.h"
#include "tests/inbox/inbox_harness.h"

using vindrel::ShowAs;
using vindrel::InboxApp;
using vindrel::testing::Bold;
using vindrel::testing::Cell;
using vindrel::testing::Column;
using vindrel::testing::Raw;
using vindrel::testing::VisibleWindow;

namespace {

// A text that a plain-text conversion would change: a line break, a
// no-break space, accents.
const QString kText = QStringLiteral("Gr\u00fc\u00dfe, caf\u00e9\n\u00a0second line  ");
constexpr QChar kFsi(0x2068), kPdi(0x2069);

QByteArray ListOutput(const QString& spool, const QString& state, vindrel::ListFormat format)
{
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    vindrel::ListMessages(spool.toStdString(), state, format, out, err);
    QByteArray bytes(static_cast<qsizetype>(std::ftell(out)), '\0');
    std::rewind(out);
    bytes.resize(static_cast<qsizetype>(std::fread(bytes.data(), 1, bytes.size(), out)));
    std::fclose(out);
    std::fclose(err);
    return bytes;
}

// A record file written as a writer that ignores the spool's limits would.
void PlaceRecord(const QString& spool, qint64 ms, const QString& from, const QString& text)
{
    const vindrel::spool::Record record{ms, from.toStdString(), "BOB", text.toStdString()};
    QFile file(spool +
               QStringLiteral("/%1-1-%2.msg").arg(ms).arg(ms % 0xffffff, 8, 16, QLatin1Char('0')));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(vindrel::spool::EncodeRecord(record)));
}

}  // namespace

class InboxTest : public QObject {
    Q_OBJECT

private:
    vindrel::testing::InboxHarness h_;

    std::unique_ptr<InboxApp> Start() { return h_.Start(ShowAs::kWindows); }
    QString Drop(const QString& from, const QString& text, qint64 ms = 0)
    {
        return h_.Drop(from, text, ms);
    }

    // A key of the main window's settings, "<none>" when it has none.
    static QString StoredFromWindow(std::u16string_view key)
    {
        return QString::fromStdU16String(
            vindrel::QtSettingsStore().Read(u"Vindrel", u"Last Values", key, u"<none>"));
    }

    static vindrel::MessagePopup* OnlyPopup(InboxApp& app)
    {
        const auto popups = app.Popups();
        return popups.size() == 1 ? popups.first() : nullptr;
    }

private slots:
    void init() { QVERIFY(h_.Reset()); }
    void cleanup() { vindrel::testing::CloseWindows(); }

    void arrivalShowsPopupAndHistoryWithExactText()
    {
        auto app = Start();
        QVERIFY(app->Popups().isEmpty());
        // Files that are not records, or not sound ones, never show.
        QFile junk(h_.spool + "/1-1-deadbeef.msg");
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("vindrel-message 1\nreceived 5\nfrom X\nto Y\nlength 99\n\nshort");
        junk.close();
        QFile::link(h_.spool + "/1-1-deadbeef.msg", h_.spool + "/2-2-deadbeef.msg");

        const QString id = Drop(QStringLiteral("ALICE"), kText);
        QTRY_VERIFY_WITH_TIMEOUT(OnlyPopup(*app) != nullptr, 1000);
        vindrel::MessagePopup* popup = OnlyPopup(*app);
        const vindrel::InboxMessage* message = app->inbox().Find(id);
        QVERIFY(message);
        QCOMPARE(popup->windowTitle(), QStringLiteral("Message from ") + kFsi + "ALICE" + kPdi);
        QCOMPARE(popup->heading()->text(),
                 QStringLiteral("Message from ") + kFsi + "ALICE" + kPdi + " to " + kFsi + "BOB" +
                     kPdi + " on " + vindrel::LocalTimeText(message->received_ms));
        QCOMPARE(Raw(*popup->text()), kText);
        QVERIFY(popup->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(popup->testAttribute(Qt::WA_ShowWithoutActivating));
        QCOMPARE(popup->ok()->focusPolicy(), Qt::StrongFocus);  // once the user activates it
        QCOMPARE(app->inbox().UnreadCount(), 1);

        app->ShowHistory();
        vindrel::HistoryWindow& history = *app->history();
        QCOMPARE(history.rows()->rowCount(), 1);
        QCOMPARE(Cell(history, 0, 1), QStringLiteral("ALICE"));
        QCOMPARE(Cell(history, 0, 2), QStringLiteral("BOB"));
        QCOMPARE(Cell(history, 0, 3), kText.section('\n', 0, 0));
        QVERIFY(Bold(history, 0));
        vindrel::testing::SelectRow(history, 0);
        QCOMPARE(Raw(*history.text()), kText);
        QTRY_COMPARE(app->inbox().UnreadCount(), 0);  // shown for a moment
        QVERIFY(!Bold(history, 0));
        QTest::keyClick(popup, Qt::Key_Escape);
        QTRY_VERIFY(app->Popups().isEmpty());
    }

    // A muted sender's messages are kept, unread, but not shown; the list
    // outlives the program and is edited in the history's dialog.
    void aMutedSenderIsKeptNotShown()
    {
        Drop("ALICE", "one");
        auto app = Start();
        QTRY_VERIFY(OnlyPopup(*app) != nullptr);
        QTest::mouseClick(OnlyPopup(*app)->mute(), Qt::LeftButton);
        QTRY_VERIFY(app->Popups().isEmpty());
        app.reset();
        app = Start();
        Drop("alice ", "two");
        Drop("BOB", "three");
        QTRY_VERIFY(OnlyPopup(*app) != nullptr);
        QTest::qWait(100);
        QCOMPARE(OnlyPopup(*app)->heading()->text().section(' ', 2, 2), kFsi + QString("BOB") + kPdi);
        QCOMPARE(app->inbox().UnreadCount(), 2);

        app->ShowHistory();
        QTest::mouseClick(app->history()->mutedListButton(), Qt::LeftButton);
        auto* dialog = VisibleWindow<vindrel::MutedSendersDialog>();
        QVERIFY(dialog);
        QCOMPARE(dialog->names()->count(), 1);
        QCOMPARE(dialog->names()->item(0)->text(), QStringLiteral("ALICE"));
        QTest::mouseClick(dialog->remove(), Qt::LeftButton);
        QCOMPARE(dialog->names()->count(), 0);
        Drop("ALICE", "four");
        QTRY_COMPARE(app->Popups().size(), 2);
    }

    // Every field named for assistive technology, unread said in each row,
    // and the history worked by keyboard: Ctrl+F, the arrows passing over
    // messages without reading them, Delete with its Undo; Esc closes the
    // reply box.
    void keyboardAndScreenReader()
    {
        for (const char* from : {"OLD", "MID", "NEW"}) Drop(from, "x");
        auto app = Start();
        app->ShowHistory();
        vindrel::HistoryWindow& history = *app->history();
        QVERIFY(QTest::qWaitForWindowActive(&history));
        auto* box = app->OpenReply(app->inbox().Messages().front().id);
        QStringList unnamed;
        for (QWidget* window : {static_cast<QWidget*>(&history), static_cast<QWidget*>(box)}) {
            for (QWidget* field : window->findChildren<QWidget*>()) {
                if (!field->focusPolicy() || !field->isVisibleTo(window) ||
                    qobject_cast<QAbstractButton*>(field) || field->focusProxy())
                    continue;
                QAccessibleInterface* named = QAccessible::queryAccessibleInterface(field);
                if (named && named->text(QAccessible::Name).isEmpty())
                    unnamed << field->objectName() + " " + field->metaObject()->className();
            }
        }
        QCOMPARE(unnamed, QStringList());
        box->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(box));
        QTest::keyClick(box->message(), Qt::Key_Escape);
        QTRY_VERIFY(VisibleWindow<vindrel::ReplyBox>() == nullptr);
        history.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&history));

        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(history.messages());
        QVERIFY(table && table->tableInterface());
        auto description = [&](int row) {
            return table->tableInterface()->cellAt(row, 1)->text(QAccessible::Description);
        };
        QCOMPARE(description(0), QStringLiteral("Read"));  // the one replied to
        QCOMPARE(description(1), QStringLiteral("Unread"));
        QVERIFY(!history.rows()->index(1, 0).data(Qt::DecorationRole).isNull());

        QTest::keyClick(&history, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), history.search());
        history.messages()->setFocus();
        QTest::keyClick(history.messages(), Qt::Key_Down);
        QTest::keyClick(history.messages(), Qt::Key_Down);
        QCOMPARE(app->inbox().UnreadCount(), 2);  // passed over, not read
        QTRY_COMPARE(app->inbox().UnreadCount(), 1);  // the one it rests on, after a moment

        QTest::keyClick(history.messages(), Qt::Key_Delete);
        QCOMPARE(Column(history, 1), (QStringList{"NEW", "MID"}));
        QVERIFY(history.undoButton()->isVisible());
        QCOMPARE(history.undoNote()->text(), QStringLiteral("Message from OLD deleted."));
        QTest::keyClick(&history, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Column(history, 1), (QStringList{"NEW", "MID", "OLD"}));
        QVERIFY(!history.undoButton()->isVisible());
    }

    void historyIsNewestFirstAndDeleteHidesForThisUserOnly()
    {
        Drop("OLD", "first", 1'000'000);
        Drop("NEW", "third", 3'000'000);
        Drop("MID", "second", 2'000'000);
        auto app = Start();
        app->ShowHistory();
        QCOMPARE(Column(*app->history(), 1), (QStringList{"NEW", "MID", "OLD"}));
        vindrel::testing::SelectRow(*app->history(), 1);
        QTest::mouseClick(app->history()->deleteButton(), Qt::LeftButton);
        QCOMPARE(Column(*app->history(), 1), (QStringList{"NEW", "OLD"}));
        QCOMPARE(vindrel::spool::ListRecordNames(h_.spool.toStdString()).value().size(), 3u);
        // --list is this user's view too.
        for (const auto format : {vindrel::ListFormat::kPlain, vindrel::ListFormat::kJson}) {
            const QByteArray listed = ListOutput(h_.spool, h_.state, format);
            QVERIFY2(listed.contains("NEW") && listed.contains("OLD") && !listed.contains("MID"),
                     listed.constData());
        }
    }

    void listToAFullDeviceSaysWhy()
    {
        Drop("ALICE", "hi");
        std::FILE* full = std::fopen("/dev/full", "w");
        QVERIFY(full);
        std::FILE* err = std::tmpfile();
        QCOMPARE(vindrel::ListMessages(h_.spool.toStdString(), h_.state,
                                       vindrel::ListFormat::kPlain, full, err),
                 1);
        std::fclose(full);
        char said[200] = {};
        std::rewind(err);
        QVERIFY(std::fgets(said, sizeof said, err));
        std::fclose(err);
        QCOMPARE(QString::fromUtf8(said),
                 QStringLiteral("vindrel-inbox: cannot write the list: No space left on device\n"));
    }

    void searchFiltersBySenderRecipientAndText_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("nothing typed") << "" << QStringList{"CAROL", "ALICE", "DAVE"};
        QTest::newRow("a sender, any case") << "alice" << QStringList{"ALICE"};
        QTest::newRow("a recipient") << "desk7" << QStringList{"CAROL"};
        QTest::newRow("a word of the text") << "PRINTER" << QStringList{"DAVE"};
        QTest::newRow("nowhere") << "zebra" << QStringList{};
    }

    void searchFiltersBySenderRecipientAndText()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, shown);
        Drop("DAVE", "The printer is fixed", 1'000'000);
        Drop("ALICE", "lunch?", 2'000'000);
        const vindrel::spool::Record to_desk{3'000'000, "CAROL", "DESK7", "build is out"};
        vindrel::spool::StoreRecord(h_.spool.toStdString(), to_desk);
        auto app = Start();
        app->ShowHistory();
        QTest::keyClicks(app->history()->search(), typed);
        QCOMPARE(Column(*app->history(), 1), shown);
    }

    void aDatagramSaysItsSenderIsUnconfirmed()
    {
        auto app = Start();
        vindrel::spool::Record record;
        record.received_ms = 1'796'000'000'000;
        record.from = "CAROL";
        record.to = "BOB";
        record.text = "hi";
        record.datagram = true;
        vindrel::spool::StoreRecord(h_.spool.toStdString(), record);
        QTRY_VERIFY_WITH_TIMEOUT(OnlyPopup(*app) != nullptr, 1000);
        QVERIFY(OnlyPopup(*app)->heading()->text().endsWith(" (datagram: unconfirmed sender)"));
        app->ShowHistory();
        QCOMPARE(Column(*app->history(), 1), QStringList{"CAROL (datagram: unconfirmed sender)"});
    }

    // The rest of a flood in one summary window, kept up to date; its Show
    // opens the history. The observer hears of each window once.
    void aFloodOpensAtMostTenPopupsAndOneSummary()
    {
        auto app = Start();
        vindrel::testing::ToldObserver observer;
        app->SetObserver(&observer);
        for (int i = 0; i < 15; ++i) Drop(QStringLiteral("SPAM%1").arg(i), "x");
        QTRY_VERIFY(app->SummaryBox() != nullptr &&
                    app->SummaryBox()->text() == QStringLiteral("5 more messages"));
        QCOMPARE(app->Popups().size(), InboxApp::kMaxPopups);
        QVERIFY(app->history() == nullptr);
        QTest::mouseClick(app->SummaryBox()->buttons().first(), Qt::LeftButton);
        QVERIFY(app->history() != nullptr && app->history()->isVisible());
        QCOMPARE(app->history()->rows()->rowCount(), 15);
        QCOMPARE(app->inbox().UnreadCount(), 15);
        app->ShowHistory();  // already open
        QCOMPARE(observer.told, QStringList(InboxApp::kMaxPopups, "window") << "history");
    }

    // Records past the spool's limit (a writer that ignores it) are not
    // read, only counted: the newest are shown.
    void moreRecordsThanTheSpoolHoldsAreCountedNotRead()
    {
        auto app = Start();
        for (int i = 1; i <= 1200; ++i) PlaceRecord(h_.spool, 1'000'000 + i, "FLOOD", "x");
        QTRY_COMPARE(app->inbox().IgnoredCount(), 200u);
        QCOMPARE(app->inbox().Messages().size(), vindrel::Inbox::kMaxRecords);
        QCOMPARE(app->inbox().Messages().back().received_ms, 1'000'201);
        app->ShowHistory();
        QVERIFY(app->history()->notice()->text().contains("200 more records"));
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

    // Running out of file descriptors once must not make every message
    // vanish, announce them again, or forget the read and deleted marks.
    void aFailedSpoolListingChangesNothing()
    {
        const QString read = Drop("ALICE", "one");
        const QString deleted = Drop("ALICE", "two");
        Drop("ALICE", "three");
        {
            auto app = Start();
            app->inbox().SetRead(read, true);
            app->inbox().Delete(deleted);
            QSignalSpy arrivals(&app->inbox(), &vindrel::Inbox::arrived);
            std::vector<int> hogs;
            for (int fd; (fd = dup(0)) >= 0;) hogs.push_back(fd);
            app->inbox().Rescan();
            app->inbox().SetRead(read, true);  // a save while the listing fails
            for (const int fd : hogs) close(fd);
            QCOMPARE(app->inbox().Messages().size(), 2u);
            app->inbox().Rescan();
            QCOMPARE(arrivals.size(), 0);
        }
        auto again = Start();
        QCOMPARE(again->inbox().Messages().size(), 2u);
        QVERIFY(again->inbox().Find(read)->read);
        QVERIFY(!again->inbox().Find(deleted));
    }

    // The state file is opened without blocking, and only a regular file is read.
    void aFifoInPlaceOfTheStateFileDoesNotHangTheStart()
    {
        QVERIFY(QDir().mkpath(QFileInfo(h_.state).path()));
        QCOMPARE(mkfifo(QFile::encodeName(h_.state).constData(), 0600), 0);
        auto loading =
            std::async(std::launch::async, [this] { vindrel::ReadState state(h_.state); });
        if (loading.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
            // Unblock the reader so the test can end, then fail.
            close(open(QFile::encodeName(h_.state).constData(), O_WRONLY | O_NONBLOCK));
            loading.wait();
            QFAIL("reading a FIFO as the state file blocked");
        }
    }

    void replySendsToTheSenderThroughTheCore()
    {
        Drop("ALICE", "lunch?");
        auto app = Start();
        QTRY_VERIFY(OnlyPopup(*app) != nullptr);
        QTest::mouseClick(OnlyPopup(*app)->reply(), Qt::LeftButton);
        auto* box = VisibleWindow<vindrel::ReplyBox>();
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
        QVERIFY(h_.sent.empty());
        QVERIFY(alive && alive->isVisible());

        box->message()->setPlainText(QStringLiteral("yes, at one"));
        QTest::mouseClick(box->send(), Qt::LeftButton);
        QCOMPARE(h_.sent.size(), 1u);
        QCOMPARE(h_.sent[0].name, QStringLiteral("ALICE"));
        QCOMPARE(h_.sent[0].text,
                 QString::fromStdU16String(vindrel::OutgoingText(u"yes, at one", u"carol")));
        QTRY_VERIFY(!alive || !alive->isVisible());
        // The main window's remembered To text is not the reply's.
        QCOMPARE(StoredFromWindow(u"To"), QStringLiteral("<none>"));
    }

    // The To field completes as the main window's, from its recent
    // recipients, and what the box delivered to joins them.
    void replyCompletesTheMainWindowsRecentRecipients()
    {
        vindrel::QtSettingsStore().Write(u"Vindrel", u"Last Values", u"Recent", u"RXBOX1");
        Drop("ALICE", "lunch?");
        auto app = Start();
        auto* box = app->OpenReply(app->inbox().Messages().front().id);
        QVERIFY(box && QTest::qWaitForWindowActive(box));
        QTest::keyClicks(box->to(), ";RX");
        QCompleter* completer = box->completer()->completer();
        QTRY_VERIFY(completer->popup()->isVisible());
        QCOMPARE(completer->currentCompletion(), QStringLiteral("RXBOX1"));
        box->to()->setText(QStringLiteral("ALICE;RXBOX1"));  // accepted as in the main window
        box->message()->setPlainText(QStringLiteral("both"));
        box->Send();
        QCOMPARE(h_.sent.size(), 2u);
        QCOMPARE(StoredFromWindow(u"Recent"), QStringLiteral("ALICE;RXBOX1"));
    }

    void refusalsAreToldOnceWithTheirCount()
    {
        h_.SetRefused(3);
        auto app = Start();
        QMessageBox* told = nullptr;
        QTRY_VERIFY((told = VisibleWindow<QMessageBox>()) != nullptr);
        QCOMPARE(told->text(),
                 QStringLiteral("3 messages could not be kept because the inbox, or their "
                                "sender's share of it, was full."));
        told->close();
        app->ShowHistory();
        QCOMPARE(app->history()->notice()->text(), told->text());
        // A flood's oldest messages removed for others': said in the same notice.
        QFile replaced(h_.spool + "/replaced");
        QVERIFY(replaced.open(QIODevice::WriteOnly) && replaced.write("2\n") == 2);
        replaced.close();
        app->inbox().Rescan();
        QCOMPARE(app->history()->notice()->text(), vindrel::RefusalNotice(3, 2));
        QVERIFY(app->history()->notice()->text().endsWith(
            QStringLiteral("2 older messages were removed to make room for others: their sender "
                           "had sent more than its share.")));
        // Told already: a restart says nothing more.
        app.reset();
        QTRY_VERIFY(VisibleWindow<QMessageBox>() == nullptr);
        app = Start();
        QTest::qWait(50);
        QVERIFY(VisibleWindow<QMessageBox>() == nullptr);
    }

    // A full spool refusing message after message: one notice, its count
    // brought up to date, never a window per refusal.
    void refusalsOneAfterAnotherShareOneNotice()
    {
        auto app = Start();
        for (int refused = 1; refused <= 50; ++refused) {
            h_.SetRefused(refused);
            app->inbox().Rescan();
        }
        int boxes = 0;
        for (QWidget* window : QApplication::topLevelWidgets())
            boxes += qobject_cast<QMessageBox*>(window) && window->isVisible();
        QCOMPARE(boxes, 1);
        QCOMPARE(app->RefusalBox()->text(), vindrel::RefusalNotice(50));
    }

    // What arrives from the LAN can neither forge a line of --list nor
    // reorder the text around it; --json keeps it exact.
    void listShowsEachMessageUnambiguously_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("received_ms");
        QTest::addColumn<QString>("plain");  // the listing's lines for it
        QTest::addColumn<QString>("utc");
        QTest::newRow("a forged heading")
            << "ALICE" << "hi\n\n2001-01-01T00:00:00Z from BOSS to BOB" << 1'796'000'000'000LL
            << "  hi\n  \n  2001-01-01T00:00:00Z from BOSS to BOB\n" << "2026-11-30T00:53:20.000Z";
        QTest::newRow("bidirectional controls")
            << "\u202EECILA" << "pay \u2066\u202E0001\u2069 now\u2028\u2029\ufeff"
            << 1'796'000'000'000LL
            << "  pay <U+2066><U+202E>0001<U+2069> now<U+2028><U+2029><U+FEFF>\n"
            << "2026-11-30T00:53:20.000Z";
        QTest::newRow("after the year 9999") << "ALICE" << "late" << 253'402'300'800'000LL
                                             << "  late\n" << "+10000-01-01T00:00:00.000Z";
    }

    void listShowsEachMessageUnambiguously()
    {
        QFETCH(QString, from);
        QFETCH(QString, text);
        QFETCH(qint64, received_ms);
        QFETCH(QString, plain);
        QFETCH(QString, utc);
        Drop(from, text, received_ms);
        Drop("CAROL", "second", 1'000);

        const QString listed =
            QString::fromUtf8(ListOutput(h_.spool, h_.state, vindrel::ListFormat::kPlain));
        QCOMPARE(listed.split('\n').filter(QRegularExpression("^\\S")).size(), 2);  // headings
        QVERIFY2(listed.contains(" from " + vindrel::VisibleControls(from) + " to BOB\n" + plain),
                 qPrintable(listed));
        QVERIFY(
            !listed.contains(QRegularExpression("[\u202a-\u202e\u2066-\u2069\u2028\u2029\ufeff]")));

        const QList<QByteArray> json =
            ListOutput(h_.spool, h_.state, vindrel::ListFormat::kJson).split('\n');
        QCOMPARE(json.size(), 3);  // two lines and the end
        QVERIFY(!json[1].contains("\xe2\x80\xa8"));  // U+2028 ends a line for some readers
        QCOMPARE(QJsonDocument::fromJson(json[1]).object(),
                 (QJsonObject{{"received", utc}, {"from", from}, {"to", "BOB"}, {"text", text},
                              {"read", false}, {"datagram", false}}));
    }

    // The login name registered with the messenger service: quiet while
    // there is none, at once when its socket appears, the owner of a name
    // taken elsewhere shown, a hostile line refused, a lost service found again.
    void theLoginNameIsRegisteredWithTheService()
    {
        const QString path = h_.Path(QStringLiteral("service%1").arg(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(path));
        auto app = h_.Start(ShowAs::kWindows, false);
        app->RegisterWith(path + "/vindreld.sock");
        app->Start();
        app->ShowHistory();
        QTest::qWait(100);
        QVERIFY(app->StatusText().isEmpty());
        QVERIFY(app->history()->status()->isHidden());

        QLocalServer service;
        QVERIFY(service.listen(path + "/vindreld.sock"));
        QTRY_VERIFY(service.hasPendingConnections());
        QLocalSocket* peer = service.nextPendingConnection();
        QTRY_VERIFY(peer->canReadLine());
        QCOMPARE(peer->readLine(), QByteArray("REGISTER carol\n"));
        peer->write("CLAIMING CAROL\nREFUSED CAROL owner 10.1.2.3\n");
        const QString carol = kFsi + QStringLiteral("CAROL") + kPdi;
        QTRY_COMPARE(app->StatusText(), carol + " is already taken by the computer at 10.1.2.3: "
                                                "messages to " + carol + " go there, not here.");
        QCOMPARE(app->history()->status()->text(), app->StatusText());

        peer->write(QByteArray(300, 'x'));
        QTRY_VERIFY(app->StatusText().isEmpty());
        QTRY_VERIFY(service.hasPendingConnections());
        peer = service.nextPendingConnection();
        QTRY_VERIFY(peer->canReadLine());
        peer->write("CLAIMED CAROL\n");
        QTRY_COMPARE(app->StatusText(), "Messages to " + carol + " reach this computer.");
    }

    void theInstanceDirIsThisUsersAlone_data()
    {
        QTest::addColumn<QString>("runtime");  // how $XDG_RUNTIME_DIR is
        QTest::addColumn<QString>("temp");     // how TMP/vindrel-inbox-UID is beforehand
        QTest::addColumn<QString>("chosen");
        QTest::newRow("a private runtime dir") << "0700" << "" << "runtime";
        QTest::newRow("no runtime dir") << "" << "" << "temp";
        QTest::newRow("a runtime dir others can enter") << "0755" << "" << "temp";
        QTest::newRow("a fallback made by another, open") << "" << "0777" << "cache";
        QTest::newRow("a fallback that is a link") << "" << "link" << "cache";
    }

    void theInstanceDirIsThisUsersAlone()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, temp);
        QFETCH(QString, chosen);
        const QString base = h_.Path(QStringLiteral("dirs%1").arg(QTest::currentDataTag()));
        const QString places[] = {base + "/runtime", base + "/tmp", base + "/cache"};
        for (const QString& place : places) QVERIFY(QDir().mkpath(place));
        chmod(QFile::encodeName(places[0]).constData(), runtime.toUInt(nullptr, 8));
        const QString fallback = places[1] + QStringLiteral("/vindrel-inbox-%1").arg(geteuid());
        if (temp == "link") QVERIFY(QFile::link(places[2], fallback));
        if (temp == "0777") {
            QVERIFY(QDir().mkpath(fallback));
            chmod(QFile::encodeName(fallback).constData(), 0777);
        }
        QString why;
        const auto dir = vindrel::InstanceDir(runtime.isEmpty() ? QString() : places[0], places[1],
                                              places[2], why);
        QVERIFY(dir.has_value());
        const QString expected = chosen == "runtime" ? places[0]
                                 : chosen == "temp"  ? fallback
                                                     : places[2] + "/vindrel-inbox";
        QCOMPARE(*dir, expected);
        QVERIFY(vindrel::IsPrivateDir(*dir));
    }
};

QTEST_MAIN(InboxTest)
#include "inbox_test.moc"
