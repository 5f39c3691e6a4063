// The report of a failure that no routine handles.
#include "Handlers.h"

#include "Dialogs.h"
#include "Error.h"
#include "Services.h"

#include <QCoreApplication>
#include <QWidget>

#include <string>

namespace tessera {

void ReportFailure(QWidget* owner, const std::exception& failure)
{
    std::string title(kProgramTitle);
    if (const auto* error = dynamic_cast<const TesseraError*>(&failure))
        title += std::string(" - ") + KindName(error->Kind());
    Dialogs().MsgBox(owner && owner->isVisible() ? owner : nullptr, failure.what(), title);
    QCoreApplication::exit(1);
}

} // namespace tessera
