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
#include <QTimer>
#include <chrono>
#include <utility>

#include "app/qt_common/recipient_completer.h"
#include "app/qt_common/send_window_qt.h"
#include "platform/qt/qt_text.h"

namespace vindrel {
namespace {

bool IsCtrlEnter(const QKeyEvent& key)
{
    // Keypad Enter carries the keypad modifier as well; it counts as Enter.
    const auto modifiers = key.modifiers() & ~Qt::KeypadModifier;
    return modifiers == Qt::ControlModifier &&
           (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter);
}

}  // namespace

QRect TwipsToPixels(const form::TwipRect& twips, int dpi_x, int dpi_y)
{
    const form::PixelRect r = form::ToPixels(twips, dpi_x, dpi_y);
    return QRect(r.left, r.top, r.width, r.height);
}

MainWindow::MainWindow(SettingsStore& settings, Bindings bindings, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ToQString(form::kTitle));
    // A fixed frame keeps the layout exactly as drawn: no maximise, no resize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // The font first: controls made after it inherit it, so none lays out
    // its text in the default font only to do it again.
    FitFont();
    BuildControls();
    LayOut();

    window_ = std::make_unique<QtSendWindow>(*this, *txtTo_, *txtMessage_,
                                         ToQString(form::kTitle));
    send_ = std::make_unique<SendAction>(*window_, settings, std::move(bindings));
    completer_ = new RecipientCompleter(*txtTo_, settings, this);
    connect(cmdSend_, &QPushButton::clicked, this, &MainWindow::Send);

    Load(settings);
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls()
{
    // Created in tab order; labels take no focus.
    txtTo_ = new QLineEdit(this);
    txtTo_->setObjectName(QStringLiteral("txtTo"));
    txtTo_->setToolTip(ToQString(form::kToTooltip));

    txtMessage_ = new QPlainTextEdit(this);
    txtMessage_->setObjectName(QStringLiteral("txtMessage"));
    txtMessage_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtMessage_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtMessage_->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtMessage_->setTabChangesFocus(true);

    Label1_ = new QLabel(ToQString(form::kLabel1Caption), this);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label2_ = new QLabel(ToQString(form::kLabel2Caption), this);
    Label2_->setObjectName(QStringLiteral("Label2"));
    // A screen reader names each field by its label.
    Label1_->setBuddy(txtTo_);
    Label2_->setBuddy(txtMessage_);

    cmdSend_ = new QPushButton(ToQString(form::kSendCaption), this);
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
    auto place = [&](QWidget* control, const form::TwipRect& r) {
        control->setGeometry(TwipsToPixels(r, dpi_x, dpi_y));
    };
    place(txtTo_, form::kTxtTo);
    place(txtMessage_, form::kTxtMessage);
    place(Label1_, form::kLabel1);
    place(Label2_, form::kLabel2);
    place(cmdSend_, form::kCmdSend);
    const QRect client = TwipsToPixels(form::kClient, dpi_x, dpi_y);
    setFixedSize(client.size());
}

void MainWindow::FitFont()
{
    // A narrow sans at 8 points, as small dialogs use, made smaller still
    // if a caption would not fit its box with the fonts at hand.
    const int dpi_x = logicalDpiX();
    const int dpi_y = logicalDpiY();
    const struct {
        QString caption;
        int width;
    } labels[] = {
        {ToQString(form::kLabel1Caption), TwipsToPixels(form::kLabel1, dpi_x, dpi_y).width()},
        {ToQString(form::kLabel2Caption), TwipsToPixels(form::kLabel2, dpi_x, dpi_y).width()},
    };
    QFont small = font();
    small.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                       QStringLiteral("Helvetica")});
    for (qreal points = 8; points >= 6; points -= 0.5) {
        small.setPointSizeF(points);
        const QFontMetrics metrics(small);
        bool fits = true;
        for (const auto& label : labels) {
            fits = fits && metrics.horizontalAdvance(label.caption) <= label.width;
        }
        if (fits) break;
    }
    setFont(small);
}

void MainWindow::Load(SettingsStore& settings)
{
    txtTo_->setText(ToQString(
        settings.Read(kSettingsApplication, kSettingsSection, kSettingsKey, form::kToHint)));
    // Show the start of a long entry, not its end.
    txtTo_->setCursorPosition(0);
}

void MainWindow::Send()
{
    completer_->Remember(send_->Run());
}

void MainWindow::CompleteNamesFrom(std::function<LanNames()> list, std::string cache_path)
{
    completer_->SetNameSource(std::move(list), std::move(cache_path));
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (completer_started_) return;
    completer_started_ = true;
    // After the first paint too: nobody types a name in the first moments.
    QTimer::singleShot(std::chrono::milliseconds(200), completer_, &RecipientCompleter::Start);
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
