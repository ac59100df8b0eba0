#include <gtest/gtest.h>

#include "app/ServiceCommandLine.h"

namespace quorvane {
namespace {

using Arguments = std::vector<std::wstring>;

TEST(ServiceCommandLineTest, RegistrationWithoutStartupGetsAutomaticStart) {
    EXPECT_EQ(withAutomaticStartup({L"agent.exe", L"/registerService"}),
              (Arguments{L"agent.exe", L"/registerService", L"/startup=auto"}));
    EXPECT_EQ(withAutomaticStartup({L"agent.exe", L"/REG", L"/displayName=Quorvane Agent"}),
              (Arguments{L"agent.exe", L"/REG", L"/displayName=Quorvane Agent", L"/startup=auto"}));
    EXPECT_EQ(withAutomaticStartup({L"agent.exe", L"--registerservice"}),
              (Arguments{L"agent.exe", L"--registerservice", L"/startup=auto"}));
}

TEST(ServiceCommandLineTest, EverythingElseIsLeftAsGiven) {
    const Arguments manual{L"agent.exe", L"/registerService", L"/startup:manual"};
    EXPECT_EQ(withAutomaticStartup(manual), manual);
    const Arguments abbreviated{L"agent.exe", L"/registerService", L"/st=manual"};
    EXPECT_EQ(withAutomaticStartup(abbreviated), abbreviated);
    for (const Arguments& other :
         {Arguments{L"agent.exe"}, Arguments{L"agent.exe", L"/unregisterService"},
          Arguments{L"agent.exe", L"registerService"}, Arguments{L"/registerService"},
          Arguments{L"agent.exe", L"/registerServiceNow"}}) {
        EXPECT_EQ(withAutomaticStartup(other), other);
    }
}

}  // namespace
}  // namespace quorvane
