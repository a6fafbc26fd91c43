// frmMain: the program's one window. Its load step restores the remembered
// To text; cmdSend, Alt+S and Ctrl+Enter run the Send action.
#pragma once

#include <QRect>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/form.h"
#include "core/send_action.h"
#include "platform/lan_names.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vindrel {

class QtSendWindow;
class RecipientCompleter;

// A rectangle in twips turned into pixels at `dpi_x` × `dpi_y` logical dots
// per inch.
QRect TwipsToPixels(const form::TwipRect& twips, int dpi_x, int dpi_y);

class MainWindow : public QWidget {
    Q_OBJECT

public:
    // Runs the load step: `settings` is read here and written by each Send.
    MainWindow(SettingsStore& settings, Bindings bindings, QWidget* parent = nullptr);
    ~MainWindow() override;

    QLineEdit* txtTo() const { return txtTo_; }
    QPlainTextEdit* txtMessage() const { return txtMessage_; }
    QLabel* Label1() const { return Label1_; }
    QLabel* Label2() const { return Label2_; }
    QPushButton* cmdSend() const { return cmdSend_; }

    // What cmdSend runs; also Ctrl+Enter.
    void Send();

    // The LAN's names for completion in txtTo (see RecipientCompleter);
    // without it only the recipients sent to before complete.
    void CompleteNamesFrom(std::function<LanNames()> list, std::string cache_path);
    RecipientCompleter* completer() const { return completer_; }

protected:
    // The window sees key presses before its controls, so Ctrl+Enter sends
    // from inside a text box too.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The completer's names are read, and the LAN listed, only once the
    // window is up: start-up waits for none of it.
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void LayOut();
    void FitFont();
    void Load(SettingsStore& settings);

    QLineEdit* txtTo_;
    QPlainTextEdit* txtMessage_;
    QLabel* Label1_;
    QLabel* Label2_;
    QPushButton* cmdSend_;
    std::unique_ptr<QtSendWindow> window_;
    std::unique_ptr<SendAction> send_;
    RecipientCompleter* completer_;
    bool completer_started_ = false;
};

}  // namespace vindrel
