#include "platform/posix/Cp932Codec.h"
#include "serial/DeviceProfile.h"
#include "serial/ProfileFolder.h"
#include "tests/fakes/Fakes.h"

#include <gtest/gtest.h>

using namespace tarvex;

namespace {

DeviceProfile fanuc()
{
    DeviceProfile p;
    p.port = 1, p.baud = 4800, p.parity = "N", p.dataBits = 8, p.stopBits = 2, p.handshake = "0", p.code = 2;
    p.partner = "1";
    p.inCodes = {"&H12", "&H11", "&H93", "&H14"};
    p.outCodes = {"&H11", "&H11", "&H93", "&H14"};
    p.timeout = 3, p.wait = 0;
    return p;
}

struct ProfileFiles : ::testing::Test {
    fakes::MemoryFileSystem fs;
    Cp932Codec codec;
    ProfileFiles()
    {
        fs.folders.insert("/home");
        fs.folders.insert("/home/RS232C");
    }
};

} // namespace

TEST_F(ProfileFiles, SampleProfileLoads)
{
    fs.files["/home/RS232C/FANUC"] = sampleProfileText();
    DeviceProfile p;
    LoadProfile("FANUC", p, fs, codec, "/home/");
    EXPECT_EQ(p, fanuc());
}

TEST_F(ProfileFiles, SavedProfileIsByteExactAndLoadsBack)
{
    DeviceProfile p = fanuc();
    p.timeout = 2.5f;
    p.wait = 0;
    p.handshake = "3";
    p.inCodes[1] = "-";
    ASSERT_FALSE(SaveProfile("HAAS", p, fs, codec, "/home/"));
    EXPECT_EQ(fs.files["/home/RS232C/HAAS"], " 1 \r\n 4800 \r\nN\r\n 8 \r\n 2 \r\n3\r\n 2 \r\n1\r\n&H12\r\n-\r\n&H93\r\n"
                                             "&H14\r\n&H11\r\n&H11\r\n&H93\r\n&H14\r\n 2.5 \r\n 0 \r\n");
    DeviceProfile back;
    LoadProfile("HAAS", back, fs, codec, "/home/");
    EXPECT_EQ(back, p);
    p.timeout = 0.5f;
    p.wait = -3;
    ASSERT_FALSE(SaveProfile("HAAS", p, fs, codec, "/home/"));
    EXPECT_NE(fs.files["/home/RS232C/HAAS"].find("\r\n .5 \r\n-3 \r\n"), std::string::npos);

    // A code typed with a comma or outer blanks would split or shift the
    // fields after it: it is written in quotes and loads back as typed.
    p.wait = 0;
    p.inCodes = {"&H12,&H13", " &H11", "&H93 ", "a\r\nb"};
    ASSERT_FALSE(SaveProfile("HAAS", p, fs, codec, "/home/"));
    EXPECT_NE(fs.files["/home/RS232C/HAAS"].find("\r\n\"&H12,&H13\"\r\n\" &H11\"\r\n\"&H93 \"\r\n"),
              std::string::npos);
    LoadProfile("HAAS", back, fs, codec, "/home/");
    EXPECT_EQ(back, p);
}

TEST_F(ProfileFiles, UnreadableFieldsKeepTheirValues)
{
    DeviceProfile before = fanuc();
    before.outCodes = {"a", "b", "c", "d"};
    before.timeout = 9;
    struct Row {
        std::string text;
        DeviceProfile expected;
    };
    DeviceProfile cut = before;
    cut.port = 2, cut.baud = 9600, cut.parity = "E", cut.dataBits = 7, cut.stopBits = 1, cut.handshake = "1";
    cut.code = 1, cut.partner = "0", cut.inCodes[0] = "&H12";
    DeviceProfile garbled = before;
    garbled.port = 3;
    garbled.wait = 500;
    // Numbers a field cannot hold are unreadable too: negative, beyond 16
    // bits (32 for the baud rate), not finite, a time-out beyond a day.
    const std::string unheld = "-1\r\n5e9\r\nN\r\n1e10\r\n-2\r\n1e10\r\nnan\r\n1e10\r\n&H12\r\n&H11\r\n&H93\r\n"
                               "&H14\r\na\r\nb\r\nc\r\nd\r\n9.2e9\r\n-3\r\n";
    DeviceProfile bounds = before;
    bounds.port = 32767, bounds.timeout = 86400; // the largest each field holds
    DeviceProfile fast = before;
    fast.baud = 115200; // beyond 16 bits, read as written
    DeviceProfile kept = before;
    kept.handshake = kept.partner = "1e10"; // texts stay texts; the port refuses what is no handshake
    const Row rows[] = {
        {unheld, kept},
        {"2\r\n9600\r\nE\r\n7\r\n1\r\n1\r\n1\r\n0\r\n&H12\r\n", cut}, // cut after line 9
        {"3\r\nfast\r\nN\r\n8\r\n2\r\n0\r\n2\r\n1\r\n&H12\r\n&H11\r\n&H93\r\n&H14\r\na\r\nb\r\nc\r\nd\r\n9\r\n500\r\n",
         garbled}, // line 2 is no number
        {"", before},
        {"32767\r\n4800\r\nN\r\n8\r\n2\r\n0\r\n2\r\n1\r\n&H12\r\n&H11\r\n&H93\r\n&H14\r\na\r\nb\r\nc\r\nd\r\n"
         "86400\r\n0\r\n",
         bounds},
        {formatProfile(fast), fast},
    };
    for (const Row& r : rows) {
        fs.files["/home/RS232C/P"] = r.text;
        DeviceProfile p = before;
        LoadProfile("P", p, fs, codec, "/home/");
        EXPECT_EQ(p, r.expected) << r.text;
    }
    DeviceProfile p = before;
    LoadProfile("missing", p, fs, codec, "/home/");
    EXPECT_EQ(p, before);
}

TEST_F(ProfileFiles, NamesThatAreNotPlainFileNamesAreRefused)
{
    for (const char* name : {"", "a/b", "..", "../x", "a\\b", "x..y", "tab\there", ".", "line\r"}) {
        EXPECT_FALSE(isPlainFileName(name)) << name;
        Error e = SaveProfile(name, fanuc(), fs, codec, "/home/");
        EXPECT_EQ(e.number, 52) << name;
    }
    EXPECT_EQ(fs.files.size(), 0u); // nothing written anywhere
    for (const char* name : {"HAAS VF-2", "ファナック", "O.K", "-"})
        EXPECT_TRUE(isPlainFileName(name)) << name;
}

TEST(ProfileDialog, ControlsAndLimits)
{
    const std::pair<const char*, const char*> timeouts[] = {
        {"12", "10.0"}, {"2.25", "2.3"}, {"0", "0"}, {"abc", "0"}, {"3", "3.0"}, {"-5", "-5.0"}, {"10", "10.0"},
    };
    for (auto [in, out] : timeouts)
        EXPECT_EQ(limitTimeout(in), out) << in;
    const std::pair<const char*, const char*> waits[] = {
        {"1500", "1000"}, {"-5", "0"}, {"0", "0"}, {"250", "250"}, {"2.5", "3"}, {"x", "0"},
    };
    for (auto [in, out] : waits)
        EXPECT_EQ(limitWait(in), out) << in;

    const ProfileControls c = controlsFor(fanuc());
    EXPECT_EQ(c.port, 0);
    EXPECT_EQ(baudEntries[c.baud], std::string("4800"));
    EXPECT_EQ(c.parity, 1);
    EXPECT_EQ(c.dataBits, 1);
    EXPECT_EQ(c.stopBits, 1);
    EXPECT_EQ(c.handshake, 0);
    EXPECT_EQ(c.code, 2);
    EXPECT_EQ(c.partner, 1);
    EXPECT_EQ(c.timeout, "3.0");
    EXPECT_EQ(c.wait, "0");
    EXPECT_EQ(profileFrom(c), fanuc());

    ProfileControls halves = c;
    halves.wait = "2.5";
    EXPECT_EQ(profileFrom(halves).wait, 2); // halves to even
    halves.wait = "3.5";
    EXPECT_EQ(profileFrom(halves).wait, 4);
    DeviceProfile odd = fanuc();
    odd.baud = 1234;
    EXPECT_EQ(controlsFor(odd).baud, -1); // no entry selected
}

TEST(ProfilePanel, PartnerKindArrangesThePanel)
{
    using O = PanelArrangement::Output;
    using I = PanelArrangement::Input;
    auto puncher = panelFor("0"), controller = panelFor("1"), inspection = panelFor("2");
    ASSERT_TRUE(puncher && controller && inspection);
    EXPECT_EQ(puncher->output, O::Command10);
    EXPECT_EQ(puncher->input, I::Command20);
    EXPECT_EQ(controller->output, O::Command1);
    EXPECT_EQ(controller->input, I::Command2);
    EXPECT_EQ(inspection->output, O::Command1);
    EXPECT_EQ(inspection->input, I::Command21);
    EXPECT_FALSE(inspection->outputEnabled);
    EXPECT_FALSE(inspection->slider1Enabled);
    EXPECT_FALSE(inspection->check1Enabled);
    EXPECT_FALSE(panelFor("3"));
    EXPECT_FALSE(panelFor(""));
}

TEST(ProfileCodes, ControlCodesAreRawBytes)
{
    struct Row {
        const char* text;
        std::optional<unsigned char> byte;
        bool valid; // a transfer takes it (else the port is refused)
    };
    const Row rows[] = {
        {"&H12", 0x12, true}, {"&H93", 0x93, true}, {"17", 17, true},   {"17.6", 18, true}, {"-", std::nullopt, true},
        {"abc", 0, true},     {"255", 255, true},   {"256", 0, false}, {"&H114", 0x14, false},
        {"-5", 0xFB, false},  {"1e3", 0xE8, false}, {"&HFFFF", 0xFF, false}, // &HFFFF reads -1
    };
    for (const Row& r : rows) {
        EXPECT_EQ(controlCode(r.text), r.byte) << r.text;
        EXPECT_EQ(validControlCode(r.text), r.valid) << r.text;
    }
}
