#include <gtest/gtest.h>

#include "app/ServiceCommandLine.h"

namespace quorvane {
namespace {

using Arguments = std::vector<std::wstring>;

Arguments withAuto(Arguments arguments) {
    arguments.push_back(L"/startup=auto");
    return arguments;
}

TEST(ServiceCommandLineTest, RegistrationWithoutStartupGetsAutomaticStart) {
    for (const Arguments& registration : {
             Arguments{L"agent.exe", L"/registerService"},
             Arguments{L"agent.exe", L"/r"},
             Arguments{L"agent.exe", L"/REG", L"/displayName=Quorvane Agent"},
             Arguments{L"agent.exe", L"/registerService", L"/di", L"Quorvane Agent"},
             Arguments{L"agent.exe", L"/registerService", L"/de:monitoring agent"},
             // The value of a display name given as the next argument is no option.
             Arguments{L"agent.exe", L"/registerService", L"/displayName", L"/startup=manual"},
         }) {
        EXPECT_EQ(withAutomaticStartup(registration), withAuto(registration));
    }
}

// POCO takes every unambiguous prefix of "startup" (no other option begins with "s"),
// with its value after "=", ":" or as the next argument.
TEST(ServiceCommandLineTest, AStartupOptionInAnySpellingTheDependencyAcceptsIsKept) {
    for (const wchar_t* startup :
         {L"/s=manual", L"/S:manual", L"/st=manual", L"/startup:manual", L"/STARTUP=auto"}) {
        const Arguments given{L"agent.exe", L"/registerService", startup};
        EXPECT_EQ(withAutomaticStartup(given), given);
    }
    const Arguments separateValue{L"agent.exe", L"/s", L"manual", L"/registerService"};
    EXPECT_EQ(withAutomaticStartup(separateValue), separateValue);
}

TEST(ServiceCommandLineTest, EverythingElseIsLeftAsGiven) {
    for (const Arguments& other : {
             Arguments{L"agent.exe"},
             Arguments{L"agent.exe", L"/unregisterService"},
             Arguments{L"agent.exe", L"/u"},
             // Not options on Windows: without "/" POCO leaves them as arguments.
             Arguments{L"agent.exe", L"registerService"},
             Arguments{L"agent.exe", L"-registerService"},
             Arguments{L"agent.exe", L"--registerService"},
             Arguments{L"/registerService"},
             // Longer than any option: unknown, refused by POCO.
             Arguments{L"agent.exe", L"/registerServiceNow"},
             // A value still missing: appending would make "/startup=auto" the display name.
             Arguments{L"agent.exe", L"/registerService", L"/displayName"},
         }) {
        EXPECT_EQ(withAutomaticStartup(other), other);
    }
}

// Only a command line that ends up registering gets the registration completed, and only one
// that ends up unregistering has the event source removed.
TEST(ServiceCommandLineTest, TheLastOfRegisterAndUnregisterDecides) {
    for (const Arguments& registration : {
             Arguments{L"agent.exe", L"/registerService"},
             Arguments{L"agent.exe", L"/r", L"/displayName=Quorvane Agent"},
             Arguments{L"agent.exe", L"/unregisterService", L"/REG"},
         }) {
        EXPECT_TRUE(registersService(registration));
        EXPECT_FALSE(unregistersService(registration));
    }
    for (const Arguments& other : {
             Arguments{L"agent.exe"},
             Arguments{L"agent.exe", L"/registerService", L"/u"},
             Arguments{L"agent.exe", L"registerService"},
             // The display name's value, not an option.
             Arguments{L"agent.exe", L"/displayName", L"/registerService"},
         }) {
        EXPECT_FALSE(registersService(other));
    }
    EXPECT_TRUE(unregistersService({L"agent.exe", L"/registerService", L"/u"}));
    EXPECT_FALSE(unregistersService({L"agent.exe", L"/displayName", L"/unregisterService"}));
}

}  // namespace
}  // namespace quorvane
