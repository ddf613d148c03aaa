#include "dnc/DncConfig.h"
#include "dnc/Machine.h"
#include "dnc/ReceivedStore.h"
#include "dnc/ShopPrograms.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvex;

TEST(DncConfig, FaultsAreNamedByTheirLine)
{
    const std::string shop = "[Shop]\nLibrary=/l\nReceived=/r\nProfiles=/p\nLogs=/g\n";
    struct Row {
        std::string text;
        std::string fault; // empty: none
    };
    const Row rows[] = {
        {shop + "; a comment\n# another\n[Machine MC-1_a]\nDevice=rfc2217://cell:3001\nProfile=FANUC\n", ""},
        {shop + "[Machine A]\nDevice=/dev/x\nProfile=F\nRequestDelay=-1\n", "line 9: RequestDelay -1"},
        {shop + "[Machine A]\nDevice=/dev/x\nProfile=F\nRequestProgram=9999\n", "line 9: RequestProgram 9999"},
        {shop + "[Machine A]\nDevice=/dev/x\nDevice=/dev/y\nProfile=F\n", "line 8: key Device given twice"},
        {shop + "[Machine A]\nProfile=F\n", "line 6: [Machine A] lacks Device="},
        {shop + "[Machine A]\nDevice=/dev/x\nProfile=F\n[Machine A]\nDevice=/dev/y\nProfile=F\n",
         "line 9: section [Machine A] given twice"},
        {"[Shop]\nLibrary=/l\n", "line 1: [Shop] lacks Received="},
        {shop + "Library =  /spaced name \n", "line 6: key Library given twice"},
        {shop + "[Machine A]\nDevice=rfc2217://[::1]:3001\nProfile=F\nEnabled=no\n", ""},
        {shop + "[Machine A]\nDevice=/dev/x\nProfile=F\nEnabled=0\n", "line 9: Enabled 0"},
        {shop + "[Machine A]\nDevice=tcp://cell:0\nProfile=F\n", "line 7: Device tcp://cell:0"},
        {shop + "[Machine A]\nDevice=tcp://cell:65536\nProfile=F\n", "line 7: Device"},
        {shop + "[Machine A]\nDevice=rfc2217://:3001\nProfile=F\n", "line 7: Device"},
        {shop + "[Machine A]\nDevice=rfc2217://::1:3001\nProfile=F\n", "line 7: Device"},
        {shop + "[Machine A]\nDevice=telnet://cell:23\nProfile=F\n", "line 7: Device"},
        {shop + "[Machine A]\nDevice=ttyUSB0\nProfile=F\n", "line 7: Device"},
        // The status page: loopback without a token, beyond it only with a long one.
        {shop + "Listen=127.0.0.1:8470\n", ""},
        {shop + "Listen=[::1]:8470\n", ""},
        {shop + "Listen=0.0.0.0:8470\nAccessToken=k3J9-shop-floor-token-0042\n", ""},
        {shop + "Listen=0.0.0.0:8470\n", "line 1: Listen 0.0.0.0:8470: beyond this computer"},
        {shop + "Listen=192.168.1.5:8470\nAccessToken=short\n", "line 1: Listen 192.168.1.5:8470: beyond"},
        {shop + "Listen=8470\n", "line 1: Listen 8470: HOST:PORT"},
        {shop + "Listen=localhost:0\n", "line 1: Listen localhost:0"},
    };
    for (const Row& r : rows) {
        DncConfig c;
        const auto faults = parseDncConfig(r.text, c);
        if (r.fault.empty())
            EXPECT_TRUE(faults.empty()) << (faults.empty() ? "" : faults[0]);
        else
            EXPECT_TRUE(!faults.empty() && faults[0].rfind(r.fault, 0) == 0) << r.text << (faults.empty() ? "" : faults[0]);
    }
}

TEST(ShopPrograms, NamesOfPunchesAndRequests)
{
    EXPECT_EQ(firstProgramNumber("%\r\n(NO NUMBER)\r\n O0012(PART)\r\nO0013\r\n"), "O0012");
    EXPECT_EQ(firstProgramNumber("%\r\nG01X1.\r\n"), "");
    struct Row {
        const char* text;
        const char* name;
        bool plain; // a name that may be looked for
    };
    const Row requests[] = {
        {"%\nO9999(1234)\n", "1234", true},     {"%\nO9999\n( prg=Bracket-2.nc )\n", "Bracket-2.nc", true},
        {"O9999\nG01\n(1234)\n", "", false},    {"O9999(../etc/passwd)\n", "../etc/passwd", false},
        {"O9999(PRG=)\n", "", false},           {"O9999(A B)\n", "A B", false},
        {"O9999(..)\n", "..", false},           {"O9999(A\\B\x01)\n", "A\\B\x01", false},
    };
    for (const Row& r : requests) {
        EXPECT_EQ(requestedName(r.text), r.name) << r.text;
        EXPECT_EQ(plainProgramName(r.name), r.plain) << r.text;
    }
}

TEST(ReceivedStore, NoNameIsTakenTwiceAndLeftoversAreMarked)
{
    char tmpl[] = "/tmp/tarvex-store-XXXXXX";
    const std::string dir = std::string(::mkdtemp(tmpl)) + "/Received/MC1";
    auto read = [&](const std::string& name) {
        std::ifstream f(dir + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    // One number three times, the last cut short: each its own file, none written over.
    const std::pair<const char*, bool> rows[] = {{"A", false}, {"B", false}, {"C", true}};
    const char* names[] = {"O0012.nc", "O0012-2.nc", "O0012.partial.nc"};
    for (int k = 0; k < 3; ++k) {
        std::string taken;
        ASSERT_EQ(storeReceived(dir, rows[k].first, 0644,
                                [&](int n) { return receivedName("O0012", 0, n, rows[k].second); }, taken),
                  0);
        EXPECT_EQ(taken, names[k]);
        EXPECT_EQ(read(taken), rows[k].first);
        EXPECT_EQ(std::filesystem::status(dir + "/" + taken).permissions(), std::filesystem::perms(0644));
    }
    EXPECT_EQ(receivedName("", 86400 * 365, 2, true).size(), std::string("19710101-000000-2.partial.nc").size());
    // A spool still written is left alone; one whose writer died is named as
    // cut short by its number; an empty one a day old is removed.
    ReceiveSpool live, dead, empty;
    ASSERT_EQ(live.open(dir, 0644) | dead.open(dir, 0644) | empty.open(dir, 0644), 0);
    live.append("%\r\nO0077\r\nG01");
    dead.append("%\r\nO0055\r\nG0");
    dead.close();
    std::string emptyPath;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().starts_with(".tarvex-rx-") && std::filesystem::file_size(e.path()) == 0)
            emptyPath = e.path();
    empty.close();
    std::filesystem::last_write_time(emptyPath, std::filesystem::file_time_type::clock::now() - std::chrono::hours(25));
    EXPECT_EQ(recoverSpools(dir).size(), 2u);
    EXPECT_EQ(read("O0055.partial.nc"), "%\r\nO0055\r\nG0");
    EXPECT_FALSE(std::filesystem::exists(emptyPath));
    std::string taken;
    ASSERT_EQ(live.publish([](int n) { return receivedName("O0077", 0, n, false); }, taken), 0);
    EXPECT_EQ(read("O0077.nc"), "%\r\nO0077\r\nG01");
    std::filesystem::remove_all(std::filesystem::path(dir).parent_path().parent_path());
}

TEST(ShopPrograms, TheLibraryGivesOneAnswerOrNone)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("tarvex-library-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "lib" / "mill");
    fs::create_directories(root / "lib" / "lathe");
    auto put = [](const fs::path& p) { std::ofstream(p) << "O1\n"; };
    put(root / "lib" / "mill" / "O1234.nc");
    put(root / "lib" / "mill" / "1234");
    put(root / "lib" / "twice.nc");
    put(root / "lib" / "lathe" / "twice");
    put(root / "secret.nc");
    fs::create_symlink(root / "secret.nc", root / "lib" / "out.nc");
    const std::string lib = (root / "lib").string();
    EXPECT_EQ(findInLibrary(lib, "1234").path, (root / "lib" / "mill" / "1234").string()); // NAME before ONAME
    EXPECT_NE(findInLibrary(lib, "twice").refusal, "");
    EXPECT_NE(findInLibrary(lib, "out").refusal, "");
    EXPECT_NE(findInLibrary(lib, "none").refusal, "");
    ASSERT_EQ(::mkfifo((root / "lib" / "pipe.nc").c_str(), 0600), 0);
    EXPECT_NE(findInLibrary(lib, "pipe").refusal.find("通常のファイルではありません"), std::string::npos);
    fs::remove_all(root);
}

TEST(DncLogs, AFullLogMakesRoomAndKeepsTheNewest)
{
    namespace fs = std::filesystem;
    const std::string log = (fs::temp_directory_path() / ("tarvex-log-" + std::to_string(::getpid()))).string();
    for (const char* text : {"one\n", "two\n", "three\n", "four\n"})
        appendRotated(log, text, 6, 2);
    auto read = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(log), "four\n");
    EXPECT_EQ(read(log + ".1"), "three\n");
    EXPECT_EQ(read(log + ".2"), "two\n");
    EXPECT_FALSE(fs::exists(log + ".3"));
    for (const char* end : {"", ".1", ".2"})
        fs::remove(log + end);
}
