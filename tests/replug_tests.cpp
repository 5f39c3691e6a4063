// A game folder on a drive that is plugged in again: an ext4 image mounted through one loop
// device, then through another at the same path, so the folder comes back under another device
// number. Needs root (losetup, mount); skipped, saying why, otherwise.
#include "FileSystem.h"
#include "Journal.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace tessera;
using namespace tessera::test;

namespace {

#ifndef _WIN32
// The loop devices an image is attached to and the mount made of one, undone however the test ends.
class LoopMount {
public:
    explicit LoopMount(std::string mountPoint) : at_(std::move(mountPoint)) {}
    ~LoopMount()
    {
        Unmount(true);
        for (const std::string& device : devices_)
            RunCommand("losetup", {"-d", device});
    }

    // Attaches image to a loop device not in use (each earlier one stays attached, so it is
    // another) and mounts it; false when the system does not allow it.
    bool Mount(const std::string& image, std::string& why)
    {
        const CommandResult attached = RunCommand("losetup", {"--find", "--show", image});
        if (attached.status != 0) {
            why = "losetup failed: " + attached.err;
            return false;
        }
        devices_.push_back(attached.out.substr(0, attached.out.find('\n')));
        const CommandResult mounted = RunCommand("mount", {devices_.back(), at_});
        if (mounted.status != 0) {
            why = "mount failed: " + mounted.err;
            return false;
        }
        mounted_ = true;
        return true;
    }

    // lazily: when it is busy, detached all the same, so the test's folder can go.
    bool Unmount(bool lazily = false)
    {
        if (mounted_ && (RunCommand("umount", {at_}).status == 0 || (lazily && RunCommand("umount", {"-l", at_}).status == 0)))
            mounted_ = false;
        return !mounted_;
    }

private:
    std::string at_;
    std::vector<std::string> devices_;
    bool mounted_ = false;
};

dev_t DeviceOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_dev;
}
#endif

} // namespace

// Two installs into a game folder on the drive and a third killed midway; the drive unplugged
// and plugged in again under another device number. recover rolls the third back, an install
// continues the history the folder holds (taking it up), history lists all three, and restore
// gives the start byte for byte.
TEST(Replug, TheHistoryAndAnInterruptedInstallComeBackWithTheDrive)
{
#ifdef _WIN32
    GTEST_SKIP() << "loop devices are a Linux matter";
#else
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to attach and mount a loop device";
    TempDir root;
    const std::string image = root / "drive.img", mnt = root / "mnt";
    fs::CreateFolder(mnt);
    fs::CreateFolder(root / "data");
    fs::CreateFolder(root / "config");
    ASSERT_EQ(RunCommand("truncate", {"-s", "256M", image}).status, 0);
    if (const CommandResult made = RunCommand("mkfs.ext4", {"-q", image}); made.status != 0)
        GTEST_SKIP() << "mkfs.ext4 failed: " << made.err;
    LoopMount drive(mnt);
    if (std::string why; !drive.Mount(image, why))
        GTEST_SKIP() << why;

    const std::string game = MakeGameFolder(mnt + "/");
    const std::string env = "XDG_DATA_HOME=" + ShellQuote(root / "data") + " XDG_CONFIG_HOME=" + ShellQuote(root / "config");
    const auto cli = [&](std::vector<std::string> args) {
        args.insert(args.end(), {"--game", game});
        return RunCommand(TESSERA_CLI, args, env);
    };
    WritePackage(root / "one", {{"car.dff", Pattern(3000, 1)}, {"hud.txd", ToBytes("hud one")}});
    WritePackage(root / "two", {{"CAR.DFF", Pattern(100, 2)}, {"default.dat", ToBytes("default two")}, {"new.txd", Pattern(70, 3)}});
    // Large enough that its journal is seen before it ends.
    WritePackage(root / "three", {{"big.dff", Pattern(64 << 20, 4)}, {"american.gxt", Pattern(4 << 20, 5)}, {"hud.txd", ToBytes("hud three")}});
    WritePackage(root / "four", {{"bike.dff", Pattern(6000, 6)}, {"default.dat", ToBytes("default four")}});
    const Snapshot start = TakeSnapshot(game);
    for (const char* mod : {"one.zpk", "two.zpk"}) {
        const CommandResult r = cli({"install", root / mod});
        ASSERT_EQ(r.status, 0) << mod << r.err;
    }
    const Snapshot two = TakeSnapshot(game);

    // The third install, killed once it has begun to append to models\gta3 (after it replaced
    // american.gxt), so the folder is half changed.
    const auto imgLength = std::filesystem::file_size(game + "models/gta3.img");
    const std::string journal = JournalPath(root / "data/Tessera/", game);
    const std::string three = root / "three.zpk", data = "XDG_DATA_HOME=" + root / "data", config = "XDG_CONFIG_HOME=" + root / "config";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        char* const argv[] = {const_cast<char*>(TESSERA_CLI), const_cast<char*>("install"), const_cast<char*>(three.c_str()),
                              const_cast<char*>("--game"), const_cast<char*>(game.c_str()), nullptr};
        char* const envp[] = {const_cast<char*>(data.c_str()), const_cast<char*>(config.c_str()), nullptr};
        ::execve(TESSERA_CLI, argv, envp);
        ::_exit(127);
    }
    int status = 0;
    while (!(std::filesystem::exists(journal) && std::filesystem::file_size(game + "models/gta3.img") > imgLength)
           && ::waitpid(child, &status, WNOHANG) == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the third install ended before it could be killed";
    ASSERT_TRUE(std::filesystem::exists(journal));
    ASSERT_NE(DescribeDifferences(two, TakeSnapshot(game)), "");

    // Unplugged and plugged in again: the same folder under another device number.
    const dev_t before = DeviceOf(game);
    ASSERT_TRUE(drive.Unmount());
    if (std::string why; !drive.Mount(image, why))
        GTEST_SKIP() << why;
    ASSERT_NE(DeviceOf(game), before);
    ASSERT_NE(JournalPath(root / "data/Tessera/", game), journal);

    CommandResult r = cli({"recover"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("another identity"), std::string::npos) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("It has been rolled back"), std::string::npos) << r.out << r.err;
    ASSERT_EQ(DescribeDifferences(two, TakeSnapshot(game)), "");

    r = cli({"install", root / "four.zpk"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("it is taken up again"), std::string::npos) << r.out << r.err;
    r = cli({"history", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string ids;
    for (const auto& record : nlohmann::json::parse(r.out))
        ids += std::to_string(record.at("id").get<int>()) + " " + record.at("package").get<std::string>() + " ";
    EXPECT_EQ(ids, "3 four.zpk 2 two.zpk 1 one.zpk ");

    r = cli({"restore"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(DescribeDifferences(start, TakeSnapshot(game)), "");
#endif
}
