// The Send action's window on Qt Widgets.
#include "app/qt_common/send_window_qt.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <utility>

#include "core/prompt_texts.h"
#include "platform/qt/qt_text.h"

namespace vindrel {
namespace {

// The core composes CR LF; a label would show the CR as a glyph.
QString ForDisplay(std::u16string_view text)
{
    QString shown = ToQString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace

QtSendWindow::QtSendWindow(QWidget& window, QLineEdit& to, QPlainTextEdit& message, QString title)
    : window_(&window), to_(to), message_(message), title_(std::move(title))
{
    window.installEventFilter(this);
}

std::u16string QtSendWindow::ToText()
{
    return FromQString(to_.text());
}

std::u16string QtSendWindow::MessageText()
{
    // The raw text keeps every character as typed (toPlainText would turn a
    // no-break space into a space); blocks are separated by U+2029.
    QString text = message_.document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return FromQString(text);
}

void QtSendWindow::ShowOk(std::u16string_view text)
{
    QMessageBox box(QMessageBox::NoIcon, title_, ForDisplay(text), QMessageBox::Ok, window_);
    // Names and messages are the user's text: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtSendWindow::GoOn(const RecipientOutcome& undelivered)
{
    QMessageBox box(QMessageBox::NoIcon, title_, ForDisplay(ContinuePrompt(undelivered)),
                    QMessageBox::Yes | QMessageBox::No, window_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes);
}

void QtSendWindow::Started()
{
    if (!saved_cursors_.empty() || !window_) return;  // already busy
    std::vector<QWidget*> widgets{window_.data()};
    for (QWidget* child : window_->findChildren<QWidget*>()) {
        // Not the widgets of an open box: a box keeps the normal pointer.
        if (child->window() == window_) widgets.push_back(child);
    }
    for (QWidget* widget : widgets) {
        const bool had_own = widget->testAttribute(Qt::WA_SetCursor);
        saved_cursors_.push_back({widget, had_own, widget->cursor()});
        widget->setCursor(Qt::WaitCursor);
    }
}

void QtSendWindow::Finished()
{
    for (const SavedCursor& saved : saved_cursors_) {
        if (!saved.widget) continue;
        if (saved.had_own) {
            saved.widget->setCursor(saved.cursor);
        } else {
            saved.widget->unsetCursor();
        }
    }
    saved_cursors_.clear();
}

bool QtSendWindow::StillOpen()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return window_ && !(close_seen_ && window_->isHidden());
}

bool QtSendWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_ && event->type() == QEvent::Close) close_seen_ = true;
    return QObject::eventFilter(watched, event);
}

}  // namespace vindrel
