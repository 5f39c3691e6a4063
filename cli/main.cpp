// tessera-cli: the console front end for scripts, mod authors and tests.
#include "Commands.h"

#include <cstring>
#include <iostream>

namespace {

void Usage(std::ostream& out)
{
    out << "Usage:\n"
           "  tessera-cli list ARCHIVE                 records of a .dir (base, .dir, .img or .zpk)\n"
           "  tessera-cli extract PACKAGE.zpk FOLDER   extract every entry of a package\n"
           "  tessera-cli pack FOLDER BASE             make BASE.zpk and BASE.dir from FOLDER\n"
           "  tessera-cli install PACKAGE.zpk [--game FOLDER] [--dry-run]\n"
           "  tessera-cli check FOLDER                 check a game folder's three archives\n"
           "  tessera-cli recover [--game FOLDER]      roll back an interrupted install\n";
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tessera::cli;
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        Usage(argc < 2 ? std::cerr : std::cout);
        return argc < 2 ? kUsage : kOk;
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
    std::cerr << "tessera-cli: unknown command " << command << "\n";
    Usage(std::cerr);
    return kUsage;
}
