// The main window's services on Qt Widgets.
#include "QtWindowServices.h"

#include "QtDialogs.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QCursor>
#include <QString>
#include <QWidget>

namespace tessera {

QtWindowServices::QtWindowServices(QWidget& window, QAbstractButton& installButton, QAbstractButton& browseButton)
    : window_(window), installButton_(installButton), browseButton_(browseButton)
{
}

void QtWindowServices::MsgBox(const std::string& text, const std::string& title)
{
    // Before the window is shown (recovery at start-up) the box stands on its own.
    Dialogs().MsgBox(window_.isVisible() ? &window_ : nullptr, text, title);
}

void QtWindowServices::DoEvents() { QCoreApplication::processEvents(); }

void QtWindowServices::SetCaption(const std::string& caption)
{
    window_.setWindowTitle(QString::fromLocal8Bit(caption.data(), static_cast<qsizetype>(caption.size())));
}

void QtWindowServices::SetPointer(Pointer pointer)
{
    // The window's own pointer, so message boxes shown meanwhile keep the arrow.
    if (pointer == Pointer::Hourglass)
        window_.setCursor(Qt::WaitCursor);
    else
        window_.unsetCursor();
}

void QtWindowServices::SetButtonEnabled(Button button, bool enabled)
{
    (button == Button::Install ? installButton_ : browseButton_).setEnabled(enabled);
}

} // namespace tessera
