// The install procedure.
#include "InstallPackage.h"

namespace tessera {

InstallResult InstallPackage(const std::string&, modMain&, IWindowServices&, const InstallOptions&)
{
    return InstallResult::Failed;
}

int RecoverInterruptedInstalls(IWindowServices&, const std::string&, const InstallOptions&) { return 0; }

} // namespace tessera
