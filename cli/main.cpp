// tessera-cli: the console front end for scripts, mod authors and tests.
#include "Commands.h"

#include <cstring>
#include <iostream>

namespace {

void Usage(std::ostream& out)
{
    out << "Usage: tessera-cli COMMAND [ARGUMENTS]\n"
           "Installs mods into a GTA3 game folder, and reads and makes packages.\n"
           "\n"
           "Commands:\n"
           "  install SOURCE [--game FOLDER] [--dry-run] [--from FOLDER]  install a package (.zpk), a .zip, .7z or .rar download, or a folder\n"
           "  check FOLDER [--json]        whether the game reads its three archives right\n"
           "  recover [--game FOLDER]      roll back an install (finish an uninstall) that was interrupted\n"
           "  history [N] [--game FOLDER] [--json]  installed mods, newest first; with N, what install N did\n"
           "  uninstall N [--game FOLDER] [--with-later] [--dry-run]  take install N back out\n"
           "  restore [--game FOLDER] [--dry-run]  take back every recorded install\n"
           "  compact [--game FOLDER] [--dry-run]  rewrite the game archives without unused space\n"
           "  list ARCHIVE                 the records of a .dir (base, .dir, .img or .zpk)\n"
           "  extract PACKAGE.zpk FOLDER   extract every entry of a package into FOLDER\n"
           "  pack SOURCE BASE [--from FOLDER]  make BASE.zpk and BASE.dir from the game files of a folder or download\n"
           "\n"
           "Options:\n"
           "  --game FOLDER  the game folder; without it, the one the desktop program stored\n"
           "  --dry-run      say what would be done, and change nothing\n"
           "  --from FOLDER  take the files of that folder of the download only\n"
           "  --json         history and check as JSON\n"
           "  --with-later   uninstall also takes back the later installs in the way, newest first\n"
           "  -h, --help     show this help and exit\n"
           "  --version      show the version and exit\n"
           "\n"
           "Exit status: 0 done, 1 failed (the message on standard error), 2 a usage error.\n";
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tessera::cli;
    if (argc < 2) {
        Usage(std::cerr);
        return kUsage;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            Usage(std::cout);
            return kOk;
        }
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "tessera-cli " TESSERA_VERSION "\n";
        return kOk;
    }
    const std::string command = argv[1];
    const Args args(argv + 2, argv + argc);
    if (command == "list")
        return CmdList(args);
    if (command == "extract")
        return CmdExtract(args);
    if (command == "pack")
        return CmdPack(args);
    if (command == "install")
        return CmdInstall(args);
    if (command == "check")
        return CmdCheck(args);
    if (command == "recover")
        return CmdRecover(args);
    if (command == "history")
        return CmdHistory(args);
    if (command == "uninstall")
        return CmdUninstall(args);
    if (command == "restore")
        return CmdRestore(args);
    if (command == "compact")
        return CmdCompact(args);
    std::cerr << "tessera-cli: unknown command " << command << "\n";
    Usage(std::cerr);
    return kUsage;
}
