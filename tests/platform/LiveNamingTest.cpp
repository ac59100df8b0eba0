// A report rendered in this process with the real Linux platform layer, after one refresh.
#include <gtest/gtest.h>

#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/Session.h"
#include "report/StatusReport.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {
namespace {

double procUptime() {
    std::ifstream file("/proc/uptime");
    double seconds = -1;
    file >> seconds;
    return seconds;
}

bool exists(const char* path) {
    return std::ifstream(path).good();
}

class LiveReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(connection.open());
        refreshSnapshot(snapshot);
        const std::string text = renderStatusReport(snapshot);
        after = procUptime();
        Poco::XML::DOMParser parser;
        document = parser.parseString(text);
        root = document->documentElement();
        ASSERT_NE(root, nullptr);
    }

    Poco::XML::Element& child(const char* name) {
        Poco::XML::Element* element = root->getChildElement(name);
        if (element == nullptr) {
            throw std::runtime_error(std::string("no element ") + name);
        }
        return *element;
    }

    Session connection;
    SystemSnapshot snapshot{connection};
    double after = -1;
    Poco::AutoPtr<Poco::XML::Document> document;
    Poco::XML::Element* root = nullptr;
};

TEST_F(LiveReportTest, UptimeIsWithinTwoSecondsOfProcUptime) {
    ASSERT_GE(after, 0) << "/proc/uptime is not readable";
    const double uptime = std::strtod(child("uptime").innerText().c_str(), nullptr);
    EXPECT_GT(uptime, 0);
    EXPECT_LE(std::abs(uptime - after), 2.0);
}

TEST_F(LiveReportTest, AgentIdentityIsTheCMakeMetadata) {
    EXPECT_EQ(root->getAttribute("agent_version"), QUORVANE_EXPECTED_VERSION);
    EXPECT_EQ(root->getAttribute("agent_description"), std::string(QUORVANE_EXPECTED_PRODUCT_NAME) +
                                                           " version " + QUORVANE_EXPECTED_VERSION);
    EXPECT_EQ(root->getAttribute("agent_edition"), QUORVANE_EXPECTED_EDITION);
    EXPECT_EQ(root->getAttribute("agent_copyright"), QUORVANE_EXPECTED_COPYRIGHT);
    EXPECT_EQ(snapshot.cachedAgentVersion, QUORVANE_EXPECTED_VERSION);
}

TEST_F(LiveReportTest, OsElementNamesThisLinuxSystem) {
    Poco::XML::Element& os = child("os");
    EXPECT_EQ(os.getAttribute("type"), "linux");
    EXPECT_EQ(os.getAttribute("spversion"), "");
    if (!exists("/etc/os-release") && !exists("/usr/lib/os-release")) {
        GTEST_SKIP() << "no os-release file on this system";
    }
    EXPECT_NE(os.getAttribute("name"), "");
    EXPECT_NE(os.getAttribute("name"), "Unknown");
    EXPECT_NE(os.innerText(), "Unknown");
}

}  // namespace
}  // namespace quorvane
