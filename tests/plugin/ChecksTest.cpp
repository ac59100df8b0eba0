// The plugin's range syntax, its worst-disk rule and the report reader's limits: where a slip
// changes a station's alerts or lets a body crash the plugin.

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "Checks.h"
#include "Options.h"
#include "Report.h"
#include "Thresholds.h"

namespace quorvane::plugin {
namespace {

bool alertsAt(const std::string& range, double value) {
    const auto parsed = parseRange(range);
    EXPECT_TRUE(parsed.has_value()) << range;
    return parsed && alerts(*parsed, value);
}

TEST(PluginRangeTest, EachFormAlertsOutsideItsInclusiveEndsAndAtInverts) {
    struct Case {
        const char* range;
        double value;
        bool alert;
    };
    const Case cases[] = {
        {"10", -0.5, true},     {"10", 0, false},        {"10", 10, false},
        {"10", 10.5, true},     {"10:", 9.99, true},     {"10:", 10, false},
        {"10:", 1e300, false},  {"~:10", -1e300, false}, {"~:10", 10, false},
        {"~:10", 10.01, true},  {"10:20", 9.9, true},    {"10:20", 10, false},
        {"10:20", 20, false},   {"10:20", 20.1, true},   {"@10:20", 9.9, false},
        {"@10:20", 10, true},   {"@10:20", 20, true},    {"@10:20", 20.1, false},
        {"-5.5:-1", -3, false}, {"-5.5:-1", 0, true},    {"@~:", 42, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(alertsAt(c.range, c.value), c.alert) << c.range << " at " << c.value;
    }
    for (const char* wrong : {"", "@", ":", ":10", "~", "20:10", "abc", "10:x", "1e3", "inf", "nan",
                              "10:20:30", "--5", "10 ", "0x10"}) {
        EXPECT_FALSE(parseRange(wrong).has_value()) << '"' << wrong << '"';
    }
    Thresholds both{parseRange("80"), parseRange("90")};
    EXPECT_EQ(evaluate(both, 80), State::ok);
    EXPECT_EQ(evaluate(both, 85), State::warning);
    EXPECT_EQ(evaluate(both, 95), State::critical);
    EXPECT_EQ(evaluate(Thresholds{}, 1e300), State::ok);
}

// The thresholds as the plugin's command line gives them.
Thresholds thresholdsOf(const std::string& mode, const std::string& warning,
                        const std::string& critical) {
    std::vector<std::string> words = {"check_quorvane", "-H", "agent", "-m", mode, "-w",
                                      warning,          "-c", critical};
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    return parseOptions(static_cast<int>(argv.size()), argv.data()).thresholds;
}

// check_disk's form beside the ranges; an empty value, what a station passes for a macro left
// empty, is no threshold; a bare number, which would alert above that much free space, is
// refused for storage.
TEST(PluginRangeTest, StorageTakesPercentFreeAndEmptyIsNone) {
    const Thresholds percent = thresholdsOf("storage", "20%", "10.5%");
    EXPECT_EQ(percent.warning->text, "20:");
    EXPECT_EQ(evaluate(percent, 20), State::ok);
    EXPECT_EQ(evaluate(percent, 19.99), State::warning);
    EXPECT_EQ(evaluate(percent, 10.49), State::critical);
    const Thresholds none = thresholdsOf("memory", "", "95");
    EXPECT_FALSE(none.warning.has_value());
    EXPECT_EQ(evaluate(none, 94), State::ok);
    EXPECT_EQ(evaluate(none, 96), State::critical);
    EXPECT_FALSE(thresholdsOf("storage", "", "").critical.has_value());
    EXPECT_EQ(thresholdsOf("storage", "@0:10", "~:5").critical->text, "~:5");
    for (const auto& [mode, wrong] : std::vector<std::pair<std::string, std::string>>{
             {"storage", "80"}, {"storage", "100.5%"}, {"storage", "-5%"}, {"cpu", "80%"}}) {
        EXPECT_THROW(thresholdsOf(mode, wrong, ""), UsageError) << mode << " " << wrong;
    }
}

std::string freeLabel(const CheckResult& result, const std::string& disk) {
    for (const std::string& item : result.perfdata) {
        if (item.rfind("'" + disk + "_free'=", 0) == 0) {
            return item;
        }
    }
    return "";
}

// The disks as the reader gives them, from storage elements written as the agent writes them.
std::vector<Disk> disksOf(const std::string& storages) {
    return readDisks(*parseReport("<root><storages>" + storages + "</storages></root>"));
}

std::string storage(const std::string& name, const std::string& size,
                    const std::string& available) {
    return "<storage available=\"" + available + "\" device_name=\"" + name +
           "\" drive_type=\"3\" file_system=\"NTFS\" size=\"" + size + "\" volume_name=\"\"/>";
}

TEST(PluginStorageTest, TheWorstDiskDecidesAndIsNamed) {
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
    const std::vector<Disk> disks = disksOf(
        "<storage available=\"500\" device_name=\"C:\" drive_type=\"3\" file_system=\"NTFS\" "
        "size=\"1000\" volume_name=\"System\"/>"  // 50 % free
        "<storage available=\"80\" device_name=\"D:\" drive_type=\"3\" file_system=\"NTFS\" "
        "size=\"1000\" volume_name=\"Data\"/>" +  // 8 %: a warning
        storage("E:", "0", "0") +                 // unreadable
        "<storage available=\"" +
        std::to_string(huge / 100 * 3) +
        "\" device_name=\"F:\" drive_type=\"3\" file_system=\"ReFS\" size=\"" +
        std::to_string(huge) + "\" volume_name=\"Big\"/>" +  // 2.99 %: critical
        "<storage available=\"90\" device_name=\"G:\" drive_type=\"3\" file_system=\"\" "
        "size=\"1000\" volume_name=\"\"/>");  // 9 %, more than D:
    const Thresholds thresholds = thresholdsOf("storage", "10%", "5:");

    CheckResult all = checkStorage(disks, thresholds, {});
    EXPECT_EQ(all.state, State::critical);
    EXPECT_EQ(all.summary.rfind("F: (Big, ReFS) 2.99% free", 0), 0u) << all.summary;
    EXPECT_EQ(all.details.size(), 5u);
    EXPECT_EQ(freeLabel(all, "F:"), "'F:_free'=2.99%;10:;5:;0;100");
    EXPECT_EQ(freeLabel(all, "E:"), "'E:_free'=U;10:;5:;0;100");

    CheckResult noCritical = checkStorage(disks, thresholds, {{}, {"F:"}});
    EXPECT_EQ(noCritical.state, State::warning);
    EXPECT_EQ(noCritical.summary.rfind("D: (Data, NTFS) 8% free", 0), 0u) << noCritical.summary;

    // An unreadable disk outranks a healthy one; an exclude wins over an include.
    CheckResult unreadable = checkStorage(disks, thresholds, {{"C:", "E:", "D:"}, {"D:"}});
    EXPECT_EQ(unreadable.state, State::unknown);
    EXPECT_EQ(unreadable.summary.rfind("E: (NTFS) size unknown", 0), 0u) << unreadable.summary;
    EXPECT_EQ(unreadable.details.size(), 2u);

    CheckResult missing = checkStorage(disks, thresholds, {{"C:", "Z:"}, {}});
    EXPECT_EQ(missing.state, State::unknown);
    EXPECT_EQ(missing.summary, "Z: not in the report, the worst of 2 disks");

    EXPECT_EQ(checkStorage(disks, {}, {}).state, State::unknown);  // E: still cannot be judged
    CheckResult healthy = checkStorage(disks, {}, {{}, {"E:"}});
    EXPECT_EQ(healthy.state, State::ok);
    EXPECT_EQ(healthy.summary.rfind("F: ", 0), 0u) << "the least free space is named";
    EXPECT_EQ(checkStorage(disks, thresholds, {{"D:"}, {"D:"}}).summary,
              "no disk left to check: C: not included, D: excluded, E: not included, F: not "
              "included, G: not included");
    EXPECT_EQ(checkStorage({}, thresholds, {}).state, State::unknown);
}

TEST(PluginStorageTest, ReportTextsCannotBreakTheOutput) {
    const std::vector<Disk> disks = disksOf(
        "<storage available=\"50\" device_name=\"/mnt/a'b=c\" drive_type=\"3\" "
        "file_system=\"ext4\" size=\"100\" volume_name=\"x|y&#10;z\"/>");
    const std::string output = formatOutput("STORAGE", checkStorage(disks, {}, {}));
    EXPECT_EQ(output,
              "QUORVANE STORAGE OK - /mnt/a'b=c (x/y z, ext4) 50% free (50 B of 100 B) | "
              "'/mnt/a''b_c_free'=50%;;;0;100 '/mnt/a''b_c_used'=50B;;;0;100\n"
              "[OK] /mnt/a'b=c (x/y z, ext4) 50% free (50 B of 100 B)\n");
}

std::string reason(const std::string& body) {
    try {
        parseReport(body);
    } catch (const ReportError& error) {
        return error.what();
    }
    return "accepted";
}

std::string repeat(const std::string& text, std::size_t times) {
    std::string result;
    for (std::size_t i = 0; i < times; ++i) {
        result += text;
    }
    return result;
}

// The DOM builds and frees its tree recursively: a deep body would overflow the stack before
// anything could be read, a wide one costs memory per node. Neither reaches the parser.
TEST(PluginReportTest, DeepWideAndDeclaredBodiesAreRefusedBeforeTheParser) {
    const std::string tooDeep = "elements nested more than 3 deep, deeper than a report";
    EXPECT_EQ(reason(repeat("<a>", 200000)), tooDeep);
    EXPECT_EQ(reason("<root><cpu-usage average=\"1\">" + repeat("<a>", 100000)), tooDeep);
    EXPECT_EQ(reason("<root><processors><processor><x/></processor></processors></root>"), tooDeep);
    // Markup inside comments, CDATA, instructions and quoted values is no element.
    EXPECT_EQ(reason("<?xml version=\"1.0\"?><root a=\"b>\" c='>'><processors><processor/>"
                     "<!-- <a><b> --><![CDATA[<a><b>]]><?pi <a><b>?></processors></root>"),
              "accepted");
    EXPECT_EQ(reason("<root>" + repeat("<a/>", kMaxReportNodes) + "</root>"),
              "more than 16384 elements, attributes and other nodes, far more than a report has");
    EXPECT_EQ(reason("<root " + repeat("a=\"\" ", kMaxReportNodes) + "/>").substr(0, 16),
              "more than 16384 ");
    EXPECT_EQ(reason("<!DOCTYPE root [<!ENTITY a \"aaaa\">]><root>&a;</root>"),
              "a document type declaration, which a report never has");
}

// A figure outside its range is a fault of the agent's sampling: never judged, never charted,
// and not fatal to the other figures of the report.
TEST(PluginReportTest, FiguresOutOfRangeAreNotJudged) {
    const Thresholds thresholds{parseRange("80"), parseRange("90")};
    const auto cpu = [&](const std::string& average, const std::string& history) {
        return checkCpu(readCpu(*parseReport("<root uc=\"42\"><cpu-usage average=\"" + average +
                                             "\">" + history + "</cpu-usage></root>")),
                        thresholds);
    };
    const CheckResult wrapped = cpu("4294967295", "-1,-1");
    EXPECT_EQ(wrapped.state, State::unknown);
    EXPECT_EQ(wrapped.summary,
              "cpu-usage average 4294967295 is out of range (0 to 100), not judged");
    EXPECT_EQ(wrapped.perfdata,
              (std::vector<std::string>{"'cpu_average'=U;80;90;0;100", "'cpu_latest'=U;;;0;100"}));
    EXPECT_EQ(cpu("101", "5").state, State::unknown);
    const CheckResult busy = cpu("100", "100,101,-5");  // judged; the bad samples are only counted
    EXPECT_EQ(busy.state, State::critical);
    EXPECT_EQ(busy.details.front(), "the latest cpu-usage sample -5 is out of range (0 to 100)");
    EXPECT_EQ(busy.details.back(), "2 of the 3 samples are out of range (0 to 100): not measured");
    EXPECT_THROW(cpu("1.5", "5"), ReportError);  // not a number at all: not a report

    const auto memory = [&](const std::string& load, const std::string& total,
                            const std::string& available) {
        return checkMemory(readMemory(*parseReport("<root><memory available_physical=\"" +
                                                   available + "\" memory_load=\"" + load +
                                                   "\" total_physical=\"" + total + "\"/></root>")),
                           thresholds);
    };
    EXPECT_EQ(memory("-1", "100", "50").summary,
              "memory memory_load -1 is out of range (0 to 100), not judged, 50 B of 100 B used");
    const CheckResult more = memory("50", "100", "101");
    EXPECT_EQ(more.state, State::ok);
    EXPECT_EQ(more.perfdata[1], "'memory_used'=U;;;0;100");
    EXPECT_EQ(more.details, (std::vector<std::string>{
                                "memory available_physical 101 is out of range (0 to memory "
                                "total_physical (100))"}));

    const CheckResult disks =
        checkStorage(disksOf(storage("C:", "100", "50") + storage("D:", "100", "101") +
                             storage("E:", "18446744073709551616", "1")),
                     {parseRange("60:"), std::nullopt}, {});
    EXPECT_EQ(disks.state, State::warning);  // C:, the only disk that can be judged
    EXPECT_EQ(disks.details[1],
              "[UNKNOWN] D: (NTFS) storage D: available 101 is out of range (0 "
              "to storage D: size (100)), not judged");
    EXPECT_EQ(disks.details[2],
              "[UNKNOWN] E: (NTFS) storage E: size 18446744073709551616 is out "
              "of range (0 to 18446744073709551615), not judged");
}

}  // namespace
}  // namespace quorvane::plugin
