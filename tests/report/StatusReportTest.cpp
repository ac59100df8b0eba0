#include <gtest/gtest.h>

#include <Poco/SAX/InputSource.h>
#include <Poco/SAX/SAXParser.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include "fakes/FakePlatform.h"
#include "platform/Session.h"
#include "report/StatusReport.h"
#include "snapshot/SystemSnapshot.h"
#include "support/ScopedTimeZone.h"

namespace quorvane {
namespace {

std::string fixedClock() {
    return "2026-12-09 10:11:12";
}

std::string readGolden(const std::string& name) {
    std::ifstream in(std::string(QUORVANE_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Throws when the text is not well-formed XML.
void parseXml(const std::string& document) {
    Poco::XML::SAXParser parser;
    std::istringstream in(document);
    Poco::XML::InputSource source(in);
    parser.parse(&source);
}

class StatusReportTest : public ::testing::Test {
  protected:
    void SetUp() override { fake::reset(); }

    std::string render() { return renderStatusReport(snapshot, fixedClock); }

    Session session;
    SystemSnapshot snapshot{session};
};

TEST_F(StatusReportTest, EmptySnapshotMatchesGoldenDocument) {
    refreshSnapshot(snapshot);
    const std::string document = render();
    EXPECT_EQ(document, readGolden("empty_report.xml"));
    EXPECT_NO_THROW(parseXml(document));
}

TEST_F(StatusReportTest, PopulatedSnapshotMatchesGoldenDocument) {
    auto& values = fake::reportValues();
    values.agentVersion = "1.0.0.0";
    values.agentDescription = "Quorvane Agent version 1.0.0.0";
    values.agentCopyright = "Copyright \xc2\xa9 2026 Quorvane & Co.";
    values.agentEdition = "Standard";
    values.servicePack = u"Service Pack 1";
    values.productName = u"Windows 7";
    values.fullName = u"Windows 7 'Ultimate'";
    values.uptime = 123456;

    snapshot.refreshCount = 42;
    setTextField(snapshot.operatingSystem.version, u"6.1.7601");
    setTextField(snapshot.operatingSystem.lastBootUpTime, u"20231107081530.125000+060");
    setTextField(snapshot.operatingSystem.localDateTime, u"20261209101112.000000+060");
    setTextField(snapshot.bios.name, u"BIOS <Date:01/02/03>");
    setTextField(snapshot.bios.manufacturer, u"Acme \"Firmware\"");
    setTextField(snapshot.bios.serialNumber, u"SN-\u00c4\u00d6\u00dc-1");
    setTextField(snapshot.bios.smbiosBiosVersion, u"F.20");
    setTextField(snapshot.bios.version, u"ACME - 1072009");
    setTextField(snapshot.computerSystem.name, u"HOST-01");
    setTextField(snapshot.computerSystem.domain, u"example.local");
    setTextField(snapshot.computerSystem.model, u"Model 'X'");
    setTextField(snapshot.computerSystem.manufacturer, u"M\u00fcller & S\u00f6hne");
    setTextField(snapshot.computerSystem.primaryOwnerName, u"Jos\u00e9");

    ProcessorInfo first;
    setTextField(first.deviceId, u"CPU0");
    setTextField(first.caption, u"Intel64 Family 6 Model 85 Stepping 7");
    setTextField(first.manufacturer, u"GenuineIntel");
    setTextField(first.name, u"Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz");
    first.maxClockSpeed = 2100;
    first.numberOfCores = 20;
    first.numberOfLogicalProcessors = 40;
    ProcessorInfo second = first;
    setTextField(second.deviceId, u"CPU1");
    setTextField(second.name, u"\u65e5\u672c\u8a9e \U0001F600 CPU");
    second.numberOfCores = 0;
    second.numberOfLogicalProcessors = 0;
    snapshot.processors = {first, second};

    for (std::size_t i = 0; i < kCpuHistoryLength; ++i) {
        snapshot.cpuUsageHistory[i] = static_cast<std::int32_t>((i % 7) * 10);
    }
    snapshot.cpuUsageHistory[3] = -1;
    snapshot.cpuUsageIndex = 5;

    snapshot.memory = {37,
                       17179869184ull,
                       10737418240ull,
                       20401094656ull,
                       12884901888ull,
                       140737488224256ull,
                       140737400000000ull,
                       0};

    DiskInfo& c = snapshot.disks[0];
    c.inUse = 1;
    setTextField(c.deviceId, u"C:");
    c.driveType = 3;
    c.size = 512110190592ull;
    c.freeSpace = 123456789012ull;
    setTextField(c.volumeName, u"System");
    setTextField(c.fileSystem, u"NTFS");
    DiskInfo& d = snapshot.disks[1];
    d.inUse = 1;
    setTextField(d.deviceId, u"D:");
    d.driveType = 3;
    d.size = 18446744073709551615ull;
    d.freeSpace = 1000;
    setTextField(d.volumeName, u"Data & <Backup>");
    setTextField(d.fileSystem, u"ReFS");

    const std::string document = render();
    EXPECT_EQ(document, readGolden("populated_report.xml"));
    EXPECT_NO_THROW(parseXml(document));
}

TEST_F(StatusReportTest, ReportTimeOperationsAreCalledOnceEachInOrder) {
    render();
    const std::vector<std::string> expected = {
        "agentVersionString", "agentDescription",   "agentCopyright",  "agentEdition",
        "windowsServicePack", "windowsProductName", "windowsFullName", "systemUptimeSeconds"};
    EXPECT_EQ(fake::reportValues().calls, expected);
}

TEST_F(StatusReportTest, ControlCharactersNeverBreakTheDocument) {
    const char16_t hostile[] = {u'a', 0x01, u'b', 0x1F, u'\t', 0xD800, u'c', 0xFFFE, 0};
    setTextField(snapshot.computerSystem.name, hostile, 8);
    fake::reportValues().agentEdition = std::string("x\x02y", 3);
    fake::reportValues().fullName = std::u16string(1, u'\a') + u"bell";
    const std::string document = render();
    EXPECT_NO_THROW(parseXml(document));
    EXPECT_NE(document.find("<hostname>a?b?\t?c?</hostname>"), std::string::npos) << document;
    EXPECT_NE(document.find("agent_edition=\"x?y\""), std::string::npos);
    EXPECT_NE(document.find(">?bell</os>"), std::string::npos);
}

TEST_F(StatusReportTest, FullFieldsWithoutTerminatorAreReadToTheirEnd) {
    snapshot.bios.name.fill(u'n');
    snapshot.bios.manufacturer.fill(u'm');  // the neighbouring field must not leak in
    const std::string document = render();
    EXPECT_NE(document.find(" name=\"" + std::string(kTextFieldLength, 'n') + "\""),
              std::string::npos);
    EXPECT_EQ(document.find(std::string(kTextFieldLength, 'n') + "m"), std::string::npos);
}

TEST_F(StatusReportTest, UnfilledSlotsAndNegativeAverages) {
    snapshot.cpuUsageHistory[0] = 10;
    snapshot.cpuUsageHistory[1] = 20;
    snapshot.cpuUsageHistory[2] = 30;
    snapshot.cpuUsageIndex = 3;
    std::string expected;
    for (int i = 0; i < 177; ++i) {
        expected += "0,";
    }
    expected += "10,20,30";
    EXPECT_EQ(formatCpuUsageHistory(snapshot), expected);
    EXPECT_EQ(averageCpuUsage(snapshot), 0);

    snapshot.cpuUsageHistory.fill(100);
    EXPECT_EQ(averageCpuUsage(snapshot), 100);
    snapshot.cpuUsageHistory[7] = 0;
    EXPECT_EQ(averageCpuUsage(snapshot), 99);

    snapshot.cpuUsageHistory.fill(-1);
    snapshot.cpuUsageIndex = 180;
    EXPECT_EQ(averageCpuUsage(snapshot), -1);
    std::string minusOnes = "-1";
    for (int i = 1; i < 180; ++i) {
        minusOnes += ",-1";
    }
    EXPECT_EQ(formatCpuUsageHistory(snapshot), minusOnes);
    // The attribute is the unsigned rendering of that average.
    EXPECT_NE(render().find("<cpu-usage average=\"4294967295\">"), std::string::npos);
}

TEST_F(StatusReportTest, AverageWrapsLikeInt32WithoutOverflowing) {
    snapshot.cpuUsageHistory.fill(0);
    snapshot.cpuUsageHistory[0] = 2147483647;
    snapshot.cpuUsageHistory[1] = 2147483647;
    snapshot.cpuUsageHistory[2] = 2;
    // 2^32 wraps to 0.
    EXPECT_EQ(averageCpuUsage(snapshot), 0);
    snapshot.cpuUsageHistory[2] = 1;
    // -1 / 180 truncates toward zero.
    EXPECT_EQ(averageCpuUsage(snapshot), 0);
    snapshot.cpuUsageHistory.fill(std::numeric_limits<std::int32_t>::min());
    // 180 * INT32_MIN = 90 * 2^32 wraps to 0.
    EXPECT_EQ(averageCpuUsage(snapshot), 0);
    snapshot.cpuUsageHistory[0] = 0;
    // The sum is 2^31 modulo 2^32, read as INT32_MIN.
    EXPECT_EQ(averageCpuUsage(snapshot), std::numeric_limits<std::int32_t>::min() / 180);
}

// The report's "time" is the machine's local time, checked against the C library's in a zone
// 5 h 30 min east of UTC (a second may pass between the readings).
TEST(ReportClockTest, TimeIsLocal) {
    const ScopedTimeZone zone(kZoneEastOfUtc);
    const auto local = [] {
        const std::time_t now = std::time(nullptr);
        std::tm fields{};
        localtime_r(&now, &fields);
        char text[32];
        return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields));
    };
    const std::string before = local();
    const std::string reported = currentLocalTimeText();
    const std::string after = local();
    EXPECT_TRUE(reported == before || reported == after) << reported << " not " << before;
}

TEST(FormatCimDateTimeTest, TakesTheSixPiecesOfA25UnitText) {
    const std::u16string source = u"20231107081530.125000+060";
    EXPECT_EQ(formatCimDateTime(source.c_str(), source.size() + 1), "2023-11-07 08:15:30");
    for (const std::u16string& wrong :
         {std::u16string(u"20231107081530.125000+06"),
          std::u16string(u"20231107081530.125000+0600"), std::u16string()}) {
        EXPECT_EQ(formatCimDateTime(wrong.c_str(), wrong.size() + 1), "") << wrong.size();
    }
    // Characters are taken as they are, digits or not.
    const std::u16string letters = u"abcdefghijklmnopqrstuvwxy";
    EXPECT_EQ(formatCimDateTime(letters.c_str(), letters.size() + 1), "abcd-ef-gh ij:kl:mn");
}

TEST(FormatCimDateTimeTest, NonAsciiCharactersAreNeverSplit) {
    const std::u16string source = u"2023\u00e9107081530.125000+060";
    EXPECT_EQ(formatCimDateTime(source.c_str(), source.size() + 1),
              "2023-\xc3\xa9"
              "1-07 08:15:30");
    // A surrogate pair is one character: the year takes it whole.
    const std::u16string pair =
        u"202\U0001F600"
        u"1107081530.125000+06";
    EXPECT_EQ(formatCimDateTime(pair.c_str(), pair.size() + 1),
              "202\xf0\x9f\x98\x80-11-07 08:15:30");
    // A field of 25 units that fills its whole capacity is bounded by it.
    TextField field;
    setTextField(field, u"20231107081530.125000+060");
    EXPECT_EQ(formatCimDateTime(field.data(), 25), "2023-11-07 08:15:30");
}

}  // namespace
}  // namespace quorvane
