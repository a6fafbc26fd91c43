// Widget tests of frmMain: layout, keys, load, the Qt settings store, and the
// window's part in a dispatch. The network send is a fake; message boxes
// are answered by a timer that finds the active modal box.
#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QSignalSpy>
#include <QStringListModel>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>

#include "app/qt/main_window.h"
#include "app/qt/startup.h"
#include "app/qt_common/recipient_completer.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/settings_store_qt.h"

using vindrel::MainWindow;

namespace {

constexpr char kChildReadsTo[] = "VINDREL_TEST_READ_TO";
constexpr char kChildWritesTo[] = "VINDREL_TEST_WRITE_TO";

struct Sent {
    QString name;
    QString text;
};

// Records every send; `during` runs inside it, as the user's input would
// arrive while the send blocks.
struct FakeSend {
    std::vector<Sent> sent;
    std::deque<vindrel::NetStatus> statuses;  // 0 when it runs out
    std::function<void()> during;

    vindrel::Bindings Make()
    {
        return {[this](std::u16string_view name, std::u16string_view text) {
                    sent.push_back({QString::fromUtf16(name.data(), name.size()),
                                    QString::fromUtf16(text.data(), text.size())});
                    if (during) during();
                    vindrel::NetStatus status = 0;
                    if (!statuses.empty()) {
                        status = statuses.front();
                        statuses.pop_front();
                    }
                    return vindrel::SendOutcome::System(status);
                },
                [] { return std::u16string(u"alice"); }};
    }
};

struct BoxSeen {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    Qt::TextFormat format;
    bool yes_is_default;
    bool has_yes_no;
    QWidget* parent;
    Qt::CursorShape cursor;
    bool override_cursor;  // an application-wide pointer would cover the box too
    bool window_busy;
};

// Every widget of the window shows the hourglass (or none does).
bool AllBusy(const QWidget& window)
{
    if (window.cursor().shape() != Qt::WaitCursor) return false;
    for (const QWidget* child : window.findChildren<QWidget*>()) {
        if (child->window() == &window && child->cursor().shape() != Qt::WaitCursor) return false;
    }
    return true;
}

bool NoneBusy(const QWidget& window)
{
    if (window.cursor().shape() == Qt::WaitCursor) return false;
    for (const QWidget* child : window.findChildren<QWidget*>()) {
        if (child->window() == &window && child->cursor().shape() == Qt::WaitCursor) return false;
    }
    return true;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    vindrel::QtSettingsStore store_;
    FakeSend net_;
    std::optional<MainWindow> window_;
    std::vector<BoxSeen> boxes_;
    std::deque<QMessageBox::StandardButton> answers_;  // Yes / OK when it runs out
    QTimer box_timer_;

    MainWindow& OpenWindow()
    {
        window_.emplace(store_, net_.Make());
        window_->show();
        if (!QTest::qWaitForWindowActive(&*window_)) qWarning("frmMain did not become active");
        return *window_;
    }

    void AnswerBox()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        boxes_.push_back({box->windowTitle(), box->text(), box->icon(), box->textFormat(),
                          box->defaultButton() == box->button(QMessageBox::Yes),
                          box->button(QMessageBox::Yes) && box->button(QMessageBox::No),
                          box->parentWidget(), box->cursor().shape(),
                          QGuiApplication::overrideCursor() != nullptr,
                          window_ && AllBusy(*window_)});
        QMessageBox::StandardButton answer = QMessageBox::NoButton;
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        }
        QAbstractButton* button = box->button(answer);
        if (!button) button = box->button(QMessageBox::Yes);
        if (!button) button = box->button(QMessageBox::Ok);
        button->click();
    }

    // Runs this binary again in one of its child modes (see main) with
    // `env` added, and returns the text it prints.
    static QString RunChild(const QProcessEnvironment& env)
    {
        QProcess child;
        QProcessEnvironment full = QProcessEnvironment::systemEnvironment();
        full.insert(env);
        child.setProcessEnvironment(full);
        child.start(QCoreApplication::applicationFilePath(), {});
        if (!child.waitForFinished(30000)) return QStringLiteral("<child hung>");
        const QByteArray hex = child.readAllStandardOutput().trimmed();
        const QByteArray bytes = QByteArray::fromHex(hex);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()),
                                  bytes.size() / 2);
    }

    static QString ReadToInLaterRun()
    {
        QProcessEnvironment env;
        env.insert(QString::fromLatin1(kChildReadsTo), QStringLiteral("1"));
        return RunChild(env);
    }

private slots:
    void initTestCase()
    {
        connect(&box_timer_, &QTimer::timeout, this, &MainWindowTest::AnswerBox);
        box_timer_.start(10);
    }

    void init()
    {
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Vindrel")).clear();
        net_ = FakeSend{};
        boxes_.clear();
        answers_.clear();
    }

    void cleanup()
    {
        window_.reset();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           qEnvironmentVariable("XDG_CONFIG_HOME"));
    }

    void geometry_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QRect>("at96dpi");
        QTest::newRow("To box") << "txtTo" << QRect(840, 120, 2535, 315) << QRect(56, 8, 169, 21);
        QTest::newRow("Message box")
            << "txtMessage" << QRect(840, 660, 2595, 1335) << QRect(56, 44, 173, 89);
        QTest::newRow("To label") << "Label1" << QRect(60, 180, 240, 195) << QRect(4, 12, 16, 13);
        QTest::newRow("Message label")
            << "Label2" << QRect(60, 660, 690, 195) << QRect(4, 44, 46, 13);
        QTest::newRow("Send button")
            << "cmdSend" << QRect(2460, 2100, 975, 315) << QRect(164, 140, 65, 21);
        QTest::newRow("client area")
            << "frmMain" << QRect(0, 0, 3585, 2505) << QRect(0, 0, 239, 167);
    }

    void geometry()
    {
        QFETCH(QString, control);
        QFETCH(QRect, twips);
        QFETCH(QRect, at96dpi);
        MainWindow& window = OpenWindow();
        QWidget* widget = control == "frmMain" ? &window : window.findChild<QWidget*>(control);
        QVERIFY(widget);
        const int dpi_x = window.logicalDpiX();
        const int dpi_y = window.logicalDpiY();
        // Either the twips scale through the logical DPI, or Qt scales the
        // whole window; the screen's DPI is met both ways.
        if (qEnvironmentVariableIsSet("VINDREL_TEST_SCREEN_DPI")) {
            QCOMPARE(qRound(dpi_x * window.devicePixelRatioF()),
                     qEnvironmentVariableIntValue("VINDREL_TEST_SCREEN_DPI"));
        }
        const QRect expected = vindrel::TwipsToPixels(
            {twips.x(), twips.y(), twips.width(), twips.height()}, dpi_x, dpi_y);
        if (widget == &window) {
            QCOMPARE(window.size(), expected.size());
            QCOMPARE(window.minimumSize(), window.maximumSize());
        } else {
            QCOMPARE(widget->geometry(), expected);
        }
        if (dpi_x == 96 && dpi_y == 96) QCOMPARE(expected, at96dpi);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     "caption is clipped");
        }
    }

    void controls()
    {
        MainWindow& window = OpenWindow();
        QCOMPARE(window.windowTitle(), QStringLiteral("Vindrel"));
        QCOMPARE(window.txtTo()->toolTip(), QStringLiteral("Person's login name"));
        QCOMPARE(window.Label1()->text(), QStringLiteral("To:"));
        QCOMPARE(window.Label2()->text(), QStringLiteral("Message:"));
        QCOMPARE(window.cmdSend()->text(), QStringLiteral("&Send"));
        QVERIFY(!window.cmdSend()->isDefault() && !window.cmdSend()->autoDefault());
        QCOMPARE(window.txtMessage()->toPlainText(), QString());
        QCOMPARE(window.txtMessage()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(window.txtMessage()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(window.txtMessage()->horizontalScrollBar()->isVisible());
        QVERIFY(window.txtMessage()->verticalScrollBar()->isVisible());

        vindrel::StartupPreload().ConfigureApplication(*qApp);
        const QList<QSize> sizes = qApp->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)));
        for (int size : {16, 32}) {
            const QImage drawn(QStringLiteral(":/icons/vindrel-%1.png").arg(size));
            QVERIFY(!drawn.isNull());
            QCOMPARE(qApp->windowIcon().pixmap(size, size).toImage().convertToFormat(
                         QImage::Format_ARGB32_Premultiplied),
                     drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied));
        }
    }

    void tabOrder()
    {
        MainWindow& window = OpenWindow();
        QCOMPARE(QApplication::focusWidget(), window.txtTo());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.txtMessage());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.cmdSend());
        QCOMPARE(window.txtMessage()->toPlainText(), QString());  // Tab typed no tab
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.txtTo());
        QCOMPARE(window.Label1()->focusPolicy(), Qt::NoFocus);
        QCOMPARE(window.Label2()->focusPolicy(), Qt::NoFocus);
    }

    void sendKeys_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("sends");
        const int ctrl = Qt::ControlModifier;
        const int keypad_ctrl = Qt::ControlModifier | Qt::KeypadModifier;
        QTest::newRow("Alt+S in the To box")
            << "txtTo" << int(Qt::Key_S) << int(Qt::AltModifier) << 1;
        QTest::newRow("Alt+S in the message box")
            << "txtMessage" << int(Qt::Key_S) << int(Qt::AltModifier) << 1;
        QTest::newRow("Ctrl+Return in the To box") << "txtTo" << int(Qt::Key_Return) << ctrl << 1;
        QTest::newRow("Ctrl+Return in the message box")
            << "txtMessage" << int(Qt::Key_Return) << ctrl << 1;
        QTest::newRow("Ctrl+keypad Enter in the message box")
            << "txtMessage" << int(Qt::Key_Enter) << keypad_ctrl << 1;
        QTest::newRow("Ctrl+Return on the button") << "cmdSend" << int(Qt::Key_Return) << ctrl << 1;
        QTest::newRow("Return in the To box") << "txtTo" << int(Qt::Key_Return) << 0 << 0;
        QTest::newRow("keypad Enter in the To box")
            << "txtTo" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 0;
        QTest::newRow("Return in the message box") << "txtMessage" << int(Qt::Key_Return) << 0 << 0;
        QTest::newRow("Return on the button") << "cmdSend" << int(Qt::Key_Return) << 0 << 0;
    }

    void sendKeys()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, sends);
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(QStringLiteral("bob"));
        auto* target = window.findChild<QWidget*>(focus);
        target->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), target);
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        // A mnemonic presses its button with a short animation, so wait for it.
        QTRY_COMPARE(int(net_.sent.size()), sends);
        if (sends == 1 && modifiers & Qt::ControlModifier) {
            // The key went to the window, not into the box.
            QCOMPARE(window.txtMessage()->toPlainText(), QString());
        }
    }

    void escapeDoesNothing_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("whileSending");
        QTest::newRow("in the To box") << "txtTo" << false;
        QTest::newRow("in the message box") << "txtMessage" << false;
        QTest::newRow("on the button") << "cmdSend" << false;
        QTest::newRow("while a send blocks") << "txtMessage" << true;
    }

    // frmMain has no cancel button: Esc must not close it, lose a text or
    // cut a dispatch short.
    void escapeDoesNothing()
    {
        QFETCH(QString, focus);
        QFETCH(bool, whileSending);
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(QStringLiteral("a;b;c"));
        window.txtMessage()->setPlainText(QStringLiteral("typed"));
        auto* target = window.findChild<QWidget*>(focus);
        target->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), target);
        if (whileSending) {
            // Delivered through the dispatch's event pump, as a real key is.
            net_.during = [&] {
                if (net_.sent.size() == 1) {
                    QTimer::singleShot(0, target, [target] {
                        QTest::keyClick(target, Qt::Key_Escape);
                    });
                }
            };
            window.cmdSend()->click();
            QCOMPARE(int(net_.sent.size()), 3);
            QVERIFY(boxes_.empty());
        } else {
            QTest::keyClick(target, Qt::Key_Escape);
            QTest::qWait(50);  // a close would be posted, not immediate
            QVERIFY(net_.sent.empty());
        }
        QVERIFY(window.isVisible());
        QCOMPARE(window.txtTo()->text(), QStringLiteral("a;b;c"));
        QCOMPARE(window.txtMessage()->toPlainText(), QStringLiteral("typed"));
    }

    void load_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no entry") << false << QString() << QString::fromUtf16(vindrel::form::kToHint);
        QTest::newRow("empty entry") << true << QString() << QString();
        QTest::newRow("stored entry") << true << "bob; pc42;" << "bob; pc42;";
    }

    void load()
    {
        QFETCH(bool, stored);
        QFETCH(QString, entry);
        QFETCH(QString, shown);
        if (stored) store_.Write(u"Vindrel", u"Last Values", u"To", vindrel::FromQString(entry));
        MainWindow& window = OpenWindow();
        QCOMPARE(window.txtTo()->text(), shown);
        QCOMPARE(window.txtTo()->placeholderText(), QString());
    }

    void hintIsSentAsOneName()
    {
        MainWindow& window = OpenWindow();
        net_.statuses = {vindrel::net_status::kNameNotFound};
        QTest::mouseClick(window.cmdSend(), Qt::LeftButton);
        QCOMPARE(int(net_.sent.size()), 1);
        QCOMPARE(net_.sent[0].name, QString::fromUtf16(vindrel::form::kToHint));
        QCOMPARE(int(boxes_.size()), 1);
        QVERIFY(boxes_[0].text.startsWith("Error: Message didn't reached to 'Login names"));
    }

    void settingsRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QString();
        QTest::newRow("spaces and semicolons") << "  bob ; pc42;;* ";
        QTest::newRow("quotes and backslashes") << "\"a\" 'b' \\\\server\\c\\";
        QTest::newRow("ini syntax") << "[Last Values]\nTo=x ;comment #hash";
        QTest::newRow("percent and equals") << "%20 %USER% a=b=c @Variant(x) true, 1,2";
        QTest::newRow("non-ASCII") << QString::fromUtf8("Jürgen; Ελένη; 日本; \U0001F600");
        QTest::newRow("10,000 characters") << QString(10000, QChar(u'x')).replace(7, 1, ";");
    }

    void settingsRoundTrip()
    {
        QFETCH(QString, value);
        store_.Write(u"Vindrel", u"Last Values", u"To", vindrel::FromQString(value));
        QCOMPARE(ReadToInLaterRun(), value);
        QVERIFY(QFile::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Vindrel.ini"));
    }

    // Places a new user could meet where the To text cannot be kept: the
    // folder cannot be made, or the file is a folder. Root is stopped too.
    void unwritableStore_data()
    {
        QTest::addColumn<QString>("configHome");   // under the test's temporary folder
        QTest::addColumn<QString>("folderToMake");
        QTest::addColumn<QString>("systemMessage");
        QTest::newRow("configuration folder under a plain file")
            << "plain/config" << "" << "Not a directory";
        QTest::newRow("configuration folder is a plain file") << "plain" << "" << "Not a directory";
        QTest::newRow("Vindrel.ini is a folder")
            << "config" << "config/Vindrel.ini" << "Is a directory";
    }

    void unwritableStore()
    {
        QFETCH(QString, configHome);
        QFETCH(QString, folderToMake);
        QFETCH(QString, systemMessage);
        QTemporaryDir place;
        QFile plain(place.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        if (!folderToMake.isEmpty()) QVERIFY(QDir(place.path()).mkpath(folderToMake));
        const QString home = place.filePath(configHome);
        const QString file = home + QStringLiteral("/Vindrel.ini");

        // Through the environment, as the program finds its folder.
        QProcessEnvironment env;
        env.insert(QString::fromLatin1(kChildWritesTo), QStringLiteral("1"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home);
        const QString reason = RunChild(env);
        QVERIFY2(reason.startsWith(file + QStringLiteral(" could not be written: ")),
                 qPrintable(reason));
        QVERIFY2(reason.contains(systemMessage), qPrintable(reason));

        // The Send goes ahead and says so once in the life of the window.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home);
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(QStringLiteral("a;b"));
        window.cmdSend()->click();
        QCOMPARE(int(net_.sent.size()), 2);
        QCOMPARE(int(boxes_.size()), 1);
        QCOMPARE(boxes_[0].text, QStringLiteral("The To text could not be saved, so it will not be "
                                                "filled in at the next start.\n") +
                                     reason);
        window.cmdSend()->click();
        QCOMPARE(int(net_.sent.size()), 4);
        QCOMPARE(int(boxes_.size()), 1);
    }

    void messageLineBreaks()
    {
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(QStringLiteral("bob"));
        window.txtMessage()->setPlainText(QStringLiteral("line 1\nline 2"));
        window.cmdSend()->click();
        QCOMPARE(int(net_.sent.size()), 1);
        QCOMPARE(net_.sent[0].text, QStringLiteral("line 1\r\nline 2\r\nSent by alice"));
    }

    void busyCursor_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("sends");
        QTest::newRow("every send succeeds") << "a;b" << 0 << 2;
        QTest::newRow("answer No") << "a;b" << int(vindrel::net_status::kNameNotFound) << 1;
        QTest::newRow("empty To text") << "" << 0 << 0;
    }

    void busyCursor()
    {
        QFETCH(QString, to);
        QFETCH(int, status);
        QFETCH(int, sends);
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(to);
        net_.statuses = {status};
        answers_ = {QMessageBox::No};
        std::vector<bool> busy_during_send;
        net_.during = [&] { busy_during_send.push_back(AllBusy(window)); };
        window.cmdSend()->click();
        QCOMPARE(int(net_.sent.size()), sends);
        QVERIFY(std::count(busy_during_send.begin(), busy_during_send.end(), false) == 0);
        for (const BoxSeen& box : boxes_) {
            QVERIFY(box.window_busy);
            QCOMPARE(box.cursor, Qt::ArrowCursor);
            QVERIFY(!box.override_cursor);
        }
        QVERIFY(NoneBusy(window));
        QCOMPARE(window.txtTo()->cursor().shape(), Qt::IBeamCursor);
        QCOMPARE(window.txtMessage()->viewport()->cursor().shape(), Qt::IBeamCursor);
    }

    void promptBox()
    {
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(QStringLiteral(" <b>x</b> ;y"));
        net_.statuses = {vindrel::net_status::kNameNotFound, 5};
        answers_ = {QMessageBox::Yes, QMessageBox::No};
        window.cmdSend()->click();
        QCOMPARE(int(net_.sent.size()), 2);
        QCOMPARE(int(boxes_.size()), 2);
        QCOMPARE(boxes_[0].text,
                 QStringLiteral("Error: Message didn't reached to '<b>x</b>'.\nThe To field should "
                                "contains valid login name or computer name or * or user might not "
                                "have logged on\nContinue?"));
        QVERIFY(boxes_[1].text.endsWith(QStringLiteral("Error code is 5\nContinue?")));
        for (const BoxSeen& box : boxes_) {
            QCOMPARE(box.title, QStringLiteral("Vindrel"));
            QCOMPARE(box.icon, QMessageBox::NoIcon);
            QCOMPARE(box.format, Qt::PlainText);
            QVERIFY(box.has_yes_no && box.yes_is_default);
            QCOMPARE(box.parent, &window);
        }
    }

    void secondSendHeldOff()
    {
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(QStringLiteral("a;b"));
        net_.during = [&] {
            if (net_.sent.size() == 1) {
                QTimer::singleShot(0, window.cmdSend(), &QPushButton::click);
                QTimer::singleShot(0, window.txtMessage(), [&] {
                    QTest::keyClick(window.txtMessage(), Qt::Key_Return, Qt::ControlModifier);
                });
            }
        };
        window.cmdSend()->click();
        QCOMPARE(int(net_.sent.size()), 2);
        QCOMPARE(net_.sent[1].name, QStringLiteral("b"));
        QVERIFY(boxes_.empty());
    }

    void closeDuringDispatch()
    {
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(QStringLiteral("a;b;c"));
        net_.statuses = {vindrel::net_status::kNameNotFound};
        net_.during = [&] { QTimer::singleShot(0, &window, &QWidget::close); };
        // Pressed from inside the program's event loop, which must then end.
        QTimer::singleShot(0, window.cmdSend(), &QPushButton::click);
        QTimer failsafe;
        failsafe.setSingleShot(true);
        connect(&failsafe, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        failsafe.start(10000);
        QCOMPARE(QApplication::exec(), 0);
        QCOMPARE(int(net_.sent.size()), 1);
        QVERIFY(boxes_.empty());
        QVERIFY(window.isHidden());
        QVERIFY(NoneBusy(window));
    }

    void overlongMessageKeepsStoredTo()
    {
        store_.Write(u"Vindrel", u"Last Values", u"To", u"kept");
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(QStringLiteral("other"));
        window.txtMessage()->setPlainText(QString(128, QChar(u'm')));
        window.cmdSend()->click();
        QVERIFY(net_.sent.empty());
        QCOMPARE(int(boxes_.size()), 1);
        QCOMPARE(boxes_[0].text, QStringLiteral("Message length is 128 chars which exceeds "
                                                "permitted length of 128 char."));
        QCOMPARE(ReadToInLaterRun(), QStringLiteral("kept"));
    }

    // The names the completer offers, in its order.
    static QStringList Offered(MainWindow& window)
    {
        return static_cast<QStringListModel*>(window.completer()->completer()->model())
            ->stringList();
    }

    // A window whose LAN lists `lan` into a cache under the test's folder;
    // true once its background listing has been taken in.
    bool OpenWithLan(const QStringList& lan, int* listings = nullptr, int wait_ms = 5000)
    {
        window_.emplace(store_, net_.Make());
        window_->CompleteNamesFrom(
            [lan, listings] {
                if (listings) ++*listings;
                vindrel::LanNames names;
                for (const QString& n : lan) names.names.push_back({n.toStdU16String(), n.toStdU16String(), 0x0A000001});
                return names;
            },
            (qEnvironmentVariable("XDG_CONFIG_HOME") + "/lan-names").toStdString());
        QSignalSpy refreshed(window_->completer(), &vindrel::RecipientCompleter::namesRefreshed);
        window_->show();
        return QTest::qWaitForWindowActive(&*window_) && refreshed.wait(wait_ms);
    }

    void completesTheNameBeingTyped_data()
    {
        QTest::addColumn<QString>("sentBefore");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("accepted");
        QTest::newRow("a LAN name after a recipient") << "" << "ALICE;RX" << "RXBOX1" << "ALICE;RXBOX1";
        QTest::newRow("in any case, spaces kept") << "" << "ALICE; rx" << "RXBOX1" << "ALICE; RXBOX1";
        QTest::newRow("a recent recipient first") << "rxold" << "bob;Rx" << "rxold" << "bob;rxold";
    }

    void completesTheNameBeingTyped()
    {
        QFETCH(QString, sentBefore);
        QFETCH(QString, typed);
        QFETCH(QString, offered);
        QFETCH(QString, accepted);
        QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + "/lan-names");
        if (!sentBefore.isEmpty()) {
            OpenWindow().txtTo()->setText(sentBefore);
            window_->Send();
        }
        QVERIFY(OpenWithLan({"RXBOX1", "CAROL"}));
        window_->txtTo()->clear();
        QTest::keyClicks(window_->txtTo(), typed);
        QCompleter* completer = window_->completer()->completer();
        QTRY_VERIFY(completer->popup()->isVisible());
        QCOMPARE(completer->currentCompletion(), offered);
        QTest::keyClick(completer->popup(), Qt::Key_Down);
        QTest::keyClick(completer->popup(), Qt::Key_Return);
        QCOMPARE(window_->txtTo()->text(), accepted);
    }

    void recentAndCachedNamesSurviveARestartWithinBounds()
    {
        QStringList names;
        for (int i = 1; i <= vindrel::kMaxRecent + 5; ++i) names << QString("N%1").arg(i);
        OpenWindow().txtTo()->setText(names.join(';'));
        window_->Send();
        window_->txtTo()->setText("n7;*");  // again, in another case: in front, once
        window_->Send();
        int listings = 0;
        QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + "/lan-names");
        QVERIFY(OpenWithLan({"RXBOX1"}, &listings));
        QStringList offered = Offered(*window_);
        QCOMPARE(offered.mid(0, 3), (QStringList{"n7", "N1", "N2"}));
        QCOMPARE(offered.size(), vindrel::kMaxRecent + 1);  // and RXBOX1 from the LAN
        QCOMPARE(offered.last(), QStringLiteral("RXBOX1"));
        // A fresh cache is read, not listed again.
        QVERIFY(!OpenWithLan({}, &listings, 300));
        QCOMPARE(listings, 1);
        QCOMPARE(Offered(*window_).last(), QStringLiteral("RXBOX1"));
    }

    void closeWritesNothing()
    {
        MainWindow& window = OpenWindow();
        window.txtTo()->setText(QStringLiteral("typed, never sent"));
        window.close();
        QCOMPARE(ReadToInLaterRun(), QStringLiteral("<none>"));
    }
};

// In a child run the test binary only reads the stored To text, as a later
// run of the program would, or writes one and keeps the store's reason, and
// prints the UTF-16 code units of either in hex.
int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet(kChildReadsTo) || qEnvironmentVariableIsSet(kChildWritesTo)) {
        vindrel::QtSettingsStore store;
        const std::u16string to =
            qEnvironmentVariableIsSet(kChildReadsTo)
                ? store.Read(u"Vindrel", u"Last Values", u"To", u"<none>")
                : store.Write(u"Vindrel", u"Last Values", u"To", u"bob").value_or(u"<stored>");
        const QByteArray bytes(reinterpret_cast<const char*>(to.data()),
                               static_cast<qsizetype>(to.size() * sizeof(char16_t)));
        std::fputs(bytes.toHex().constData(), stdout);
        return 0;
    }
    // Every run gets a configuration directory of its own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
