// The plugin's range syntax and its worst-disk rule: where a slip changes a station's alerts.

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "Checks.h"
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

std::string freeLabel(const CheckResult& result, const std::string& disk) {
    for (const std::string& item : result.perfdata) {
        if (item.rfind("'" + disk + "_free'=", 0) == 0) {
            return item;
        }
    }
    return "";
}

TEST(PluginStorageTest, TheWorstDiskDecidesAndIsNamed) {
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
    const std::vector<Disk> disks = {
        {"C:", "System", "NTFS", 1000, 500},          // 50 % free
        {"D:", "Data", "NTFS", 1000, 80},             // 8 %: below the warning
        {"E:", "", "", 0, 0},                         // figures unreadable
        {"F:", "Big", "ReFS", huge, huge / 100 * 3},  // just under 3 %: critical
        {"G:", "", "", 1000, 90},                     // 9 %: also a warning, but more free than D:
    };
    const Thresholds thresholds{parseRange("10:"), parseRange("5:")};

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
    EXPECT_EQ(unreadable.summary.rfind("E: size unknown", 0), 0u) << unreadable.summary;
    EXPECT_EQ(unreadable.details.size(), 2u);

    CheckResult missing = checkStorage(disks, thresholds, {{"C:", "Z:"}, {}});
    EXPECT_EQ(missing.state, State::unknown);
    EXPECT_EQ(missing.summary, "Z: not in the report, the worst of 2 disks");

    EXPECT_EQ(checkStorage(disks, {}, {}).state, State::unknown);  // E: still cannot be judged
    CheckResult healthy = checkStorage(disks, {}, {{}, {"E:"}});
    EXPECT_EQ(healthy.state, State::ok);
    EXPECT_EQ(healthy.summary.rfind("F: ", 0), 0u) << "the least free space is named";
    EXPECT_EQ(checkStorage({}, thresholds, {}).state, State::unknown);
}

TEST(PluginStorageTest, ReportTextsCannotBreakTheOutput) {
    const std::vector<Disk> disks = {{"/mnt/a'b=c", "x|y\nz", "ext4", 100, 50}};
    const std::string output = formatOutput("STORAGE", checkStorage(disks, {}, {}));
    EXPECT_EQ(output,
              "QUORVANE STORAGE OK - /mnt/a'b=c (x/y z, ext4) 50% free (50 B of 100 B) | "
              "'/mnt/a''b_c_free'=50%;;;0;100 '/mnt/a''b_c_used'=50B;;;0;100\n"
              "[OK] /mnt/a'b=c (x/y z, ext4) 50% free (50 B of 100 B)\n");
}

}  // namespace
}  // namespace quorvane::plugin
