// The report of a failure that no routine handles.
#include "Handlers.h"

#include "QtDialogs.h"
#include "FormLogic.h"
#include "Error.h"
#include "Services.h"

#include <QCoreApplication>
#include <QDialog>
#include <QWidget>

#include <string>

namespace tessera {

namespace {

bool failureReported = false;

} // namespace

bool FailureReported() noexcept { return failureReported; }
void ClearFailureReport() noexcept { failureReported = false; }

void ReportFailure(QWidget* owner, const std::exception& failure)
{
    failureReported = true;
    Dialogs().MsgBox(owner && owner->isVisible() ? owner : nullptr, failure.what(), FailureTitle(failure));
    if (auto* dialog = owner ? qobject_cast<QDialog*>(owner->window()) : nullptr)
        dialog->reject();
    QCoreApplication::exit(1);
}

} // namespace tessera
