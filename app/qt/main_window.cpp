// frmMain on Qt Widgets.
#include "app/qt/main_window.h"

#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cmath>
#include <utility>

#include "platform/qt/qt_text.h"
#include "platform/qt/ui_services_qt.h"

namespace vindrel {
namespace {

struct TwipRect {
    int left, top, width, height;
};

constexpr TwipRect kTxtTo{840, 120, 2535, 315};
constexpr TwipRect kTxtMessage{840, 660, 2595, 1335};
constexpr TwipRect kLabel1{60, 180, 240, 195};
constexpr TwipRect kLabel2{60, 660, 690, 195};
constexpr TwipRect kCmdSend{2460, 2100, 975, 315};

constexpr int kTwipsPerInch = 1440;

int TwipsToPixels(int twips, int dpi)
{
    return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / kTwipsPerInch));
}

bool IsCtrlEnter(const QKeyEvent& key)
{
    // Keypad Enter carries the keypad modifier as well; it counts as Enter.
    const auto modifiers = key.modifiers() & ~Qt::KeypadModifier;
    return modifiers == Qt::ControlModifier &&
           (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter);
}

}  // namespace

QRect TwipsToPixels(int left, int top, int width, int height, int dpi_x, int dpi_y)
{
    const int x = TwipsToPixels(left, dpi_x);
    const int y = TwipsToPixels(top, dpi_y);
    return QRect(x, y, TwipsToPixels(left + width, dpi_x) - x,
                 TwipsToPixels(top + height, dpi_y) - y);
}

MainWindow::MainWindow(SettingsStore& settings, Bindings bindings, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    // A fixed frame keeps the layout exactly as drawn: no maximise, no resize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    BuildControls();
    LayOut();
    FitFont();

    ui_ = std::make_unique<QtUiServices>(*this, *txtTo_, *txtMessage_,
                                         QString::fromLatin1(kWindowTitle));
    send_ = std::make_unique<SendAction>(*ui_, settings, std::move(bindings));
    connect(cmdSend_, &QPushButton::clicked, this, &MainWindow::Send);

    Load(settings);
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls()
{
    // Created in tab order; labels take no focus.
    txtTo_ = new QLineEdit(this);
    txtTo_->setObjectName(QStringLiteral("txtTo"));
    txtTo_->setToolTip(QStringLiteral("Person's login name"));

    txtMessage_ = new QPlainTextEdit(this);
    txtMessage_->setObjectName(QStringLiteral("txtMessage"));
    txtMessage_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtMessage_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtMessage_->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtMessage_->setTabChangesFocus(true);

    Label1_ = new QLabel(QStringLiteral("To:"), this);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label2_ = new QLabel(QStringLiteral("Message:"), this);
    Label2_->setObjectName(QStringLiteral("Label2"));

    cmdSend_ = new QPushButton(QStringLiteral("&Send"), this);
    cmdSend_->setObjectName(QStringLiteral("cmdSend"));
    // Enter in a text box must never send.
    cmdSend_->setAutoDefault(false);
    cmdSend_->setDefault(false);

    setTabOrder(txtTo_, txtMessage_);
    setTabOrder(txtMessage_, cmdSend_);
    txtTo_->setFocus();

    for (QWidget* control : {static_cast<QWidget*>(txtTo_), static_cast<QWidget*>(txtMessage_),
                             static_cast<QWidget*>(cmdSend_)}) {
        control->installEventFilter(this);
    }
}

void MainWindow::LayOut()
{
    const int dpi_x = logicalDpiX();
    const int dpi_y = logicalDpiY();
    auto place = [&](QWidget* control, const TwipRect& r) {
        control->setGeometry(TwipsToPixels(r.left, r.top, r.width, r.height, dpi_x, dpi_y));
    };
    place(txtTo_, kTxtTo);
    place(txtMessage_, kTxtMessage);
    place(Label1_, kLabel1);
    place(Label2_, kLabel2);
    place(cmdSend_, kCmdSend);
    const QRect client = TwipsToPixels(0, 0, kClientWidthTwips, kClientHeightTwips, dpi_x, dpi_y);
    setFixedSize(client.size());
}

void MainWindow::FitFont()
{
    // A narrow sans at 8 points, as small dialogs use, made smaller still
    // if a caption would not fit its box with the fonts at hand.
    QFont small = font();
    small.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                       QStringLiteral("Helvetica")});
    for (qreal points = 8; points >= 6; points -= 0.5) {
        small.setPointSizeF(points);
        const QFontMetrics metrics(small);
        bool fits = true;
        for (const QLabel* label : {Label1_, Label2_}) {
            fits = fits && metrics.horizontalAdvance(label->text()) <= label->width();
        }
        if (fits) break;
    }
    setFont(small);
}

void MainWindow::Load(SettingsStore& settings)
{
    txtTo_->setText(ToQString(
        settings.Read(kSettingsApplication, kSettingsSection, kSettingsKey, kToHint)));
    // Show the start of a long entry, not its end.
    txtTo_->setCursorPosition(0);
}

void MainWindow::Send()
{
    send_->Run();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && IsCtrlEnter(*static_cast<QKeyEvent*>(event))) {
        Send();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    if (IsCtrlEnter(*event)) {
        Send();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace vindrel
