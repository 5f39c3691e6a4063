// The window services of the desktop program's main window: its caption, pointer and two
// buttons, message boxes through IDialogs, and Qt's event loop.
#pragma once

#include "Services.h"

#include <string>

class QAbstractButton;
class QWidget;

namespace tessera {

class QtWindowServices : public IWindowServices {
public:
    QtWindowServices(QWidget& window, QAbstractButton& installButton, QAbstractButton& browseButton);

    void MsgBox(const std::string& text, const std::string& title) override;
    void DoEvents() override;
    void SetCaption(const std::string& caption) override;
    void SetPointer(Pointer pointer) override;
    void SetButtonEnabled(Button button, bool enabled) override;

private:
    QWidget& window_;
    QAbstractButton& installButton_;
    QAbstractButton& browseButton_;
};

} // namespace tessera
