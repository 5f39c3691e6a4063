// tessera-cli: the console front end for scripts, mod authors and tests.
#include "Commands.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <iterator>
#include <string_view>

namespace {

using namespace tessera::cli;

// The options a command takes, beside its positional arguments.
enum Flag : unsigned { kGame = 1, kFrom = 2, kDryRun = 4, kJson = 8, kWithLater = 16 };

struct Command {
    const char* name;
    const char* usage;         // after "tessera-cli "
    const char* description;
    unsigned flags;
    int (*run)(const Options&);
};

const Command kCommands[] = {
    {"install", "install SOURCE [--game FOLDER] [--dry-run] [--from FOLDER]",
     "install a package (.zpk), a .zip, .7z or .rar download, or a folder", kGame | kDryRun | kFrom, CmdInstall},
    {"check", "check FOLDER [--json]", "whether the game reads its three archives right", kJson, CmdCheck},
    {"recover", "recover [--game FOLDER]", "roll back an install (finish an uninstall) that was interrupted", kGame, CmdRecover},
    {"history", "history [N] [--game FOLDER] [--json]", "installed mods, newest first; with N, what install N did", kGame | kJson, CmdHistory},
    {"uninstall", "uninstall N [--game FOLDER] [--with-later] [--dry-run]", "take install N back out", kGame | kWithLater | kDryRun,
     CmdUninstall},
    {"restore", "restore [--game FOLDER] [--dry-run]", "take back every recorded install", kGame | kDryRun, CmdRestore},
    {"compact", "compact [--game FOLDER] [--dry-run]", "rewrite the game archives without unused space", kGame | kDryRun, CmdCompact},
    {"list", "list ARCHIVE", "the records of a .dir (base, .dir, .img or .zpk)", 0, CmdList},
    {"extract", "extract PACKAGE.zpk FOLDER", "extract every entry of a package into FOLDER", 0, CmdExtract},
    {"pack", "pack SOURCE BASE [--from FOLDER]", "make BASE.zpk and BASE.dir from the game files of a folder or download", kFrom, CmdPack},
};

void Usage(std::ostream& out)
{
    out << "Usage: tessera-cli COMMAND [ARGUMENTS]\n"
           "Installs mods into a GTA3 game folder, and reads and makes packages.\n"
           "\n"
           "Commands:\n";
    for (const Command& c : kCommands) {
        const std::string usage = c.usage;
        out << "  " << usage << (usage.size() < 27 ? std::string(29 - usage.size(), ' ') : std::string("  ")) << c.description << "\n";
    }
    out << "\n"
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

int CommandUsage(const Command& c)
{
    std::cerr << "Usage: tessera-cli " << c.usage << "\n";
    if (std::string_view(c.name) == "install")
        std::cerr << "SOURCE: a package (.zpk), a .zip, .7z or .rar archive, or a folder\n";
    return kUsage;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app("tessera-cli");
    // The help is ours, printed for -h or --help anywhere on the line.
    app.set_help_flag();
    bool help = false, version = false;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    app.require_subcommand(0, 1);

    Options options;
    for (const Command& c : kCommands) {
        CLI::App* sub = app.add_subcommand(c.name, c.description);
        sub->set_help_flag();
        sub->fallthrough();
        sub->add_option("arguments", options.positional);
        if (c.flags & kGame)
            sub->add_option("--game", options.game);
        if (c.flags & kFrom)
            sub->add_option("--from", options.from);
        if (c.flags & kDryRun)
            sub->add_flag("--dry-run", options.dryRun);
        if (c.flags & kJson)
            sub->add_flag("--json", options.json);
        if (c.flags & kWithLater)
            sub->add_flag("--with-later", options.withLater);
    }

    const Command* chosen = nullptr;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        for (const Command& c : kCommands)
            if (argc > 1 && std::string_view(argv[1]) == c.name)
                chosen = &c;
        if (help) {
            Usage(std::cout);
            return kOk;
        }
        if (!chosen) {
            if (argc > 1 && argv[1][0] != '-')
                std::cerr << "tessera-cli: unknown command " << argv[1] << "\n";
            Usage(std::cerr);
            return kUsage;
        }
        std::cerr << "tessera-cli " << chosen->name << ": " << e.what() << "\n";
        return CommandUsage(*chosen);
    }
    if (help) {
        Usage(std::cout);
        return kOk;
    }
    for (const Command& c : kCommands)
        if (app.got_subcommand(c.name))
            chosen = &c;
    if (version && !chosen && argc == 2) {
        std::cout << "tessera-cli " TESSERA_VERSION "\n";
        return kOk;
    }
    if (!chosen || version) {
        Usage(std::cerr);
        return kUsage;
    }
    const int status = chosen->run(options);
    return status == kUsage ? CommandUsage(*chosen) : status;
}
