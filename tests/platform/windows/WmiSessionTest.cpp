// The Windows session driven through fake WMI objects: what a real WMI answers on a slow, empty
// or failing enumeration, which Wine's own WMI never produces.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "FakeWbem.h"
#include "WindowsSession.h"
#include "WmiSession.h"
#include "platform/wmi/WmiAccess.h"
#include "snapshot/Probes.h"
#include "snapshot/SystemSnapshot.h"

namespace quorvane {
namespace {

using namespace fakewbem;

// WbemAdministrativeLocator.
const CLSID kLocatorClass = {
    0xcb8555cc, 0x9128, 0x11d1, {0xad, 0x9b, 0x00, 0xc0, 0x4f, 0xd8, 0xfd, 0xff}};

constexpr LONG kEnumerateFlags =
    WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_SHALLOW | WBEM_FLAG_RETURN_IMMEDIATELY;
constexpr LONG kQueryFlags = WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY;

std::u16string field(const TextField& text) {
    return textFieldValue(text);
}

// A session whose connection is the fake services, as a successful open leaves it.
class WmiSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        now = 1000000;
        services.AddRef();
        session.services = &services;
    }
    void TearDown() override {
        session.close();
        EXPECT_TRUE(services.balanced());
        for (const auto& enumerator : services.enumerators) {
            EXPECT_TRUE(enumerator->balanced());
        }
    }

    FakeServices services;
    // The snapshot takes the platform's session; the probes and readers use its WMI connection.
    Session platformSession{std::make_unique<SessionState>(testClock)};
    WmiSession& session = platformSession.state()->wmi;
};

TEST_F(WmiSessionTest, FirstInstanceIsFetchedBeforeTheEnumeratorIsHandedOut) {
    FakeClassObject first;
    FakeClassObject second;
    services.answer(L"Win32_Processor", {walk({instance(first), instance(second)})});
    {
        const auto walk = session.enumerateClass(u"Win32_Processor");
        ASSERT_NE(walk, nullptr);
        const FakeEnumerator& enumerator = *services.enumerators.at(0);
        EXPECT_EQ(enumerator.timeouts.size(), 1u);
        EXPECT_NE(walk->nextInstance(), nullptr);
        EXPECT_EQ(enumerator.timeouts.size(), 1u);  // the prefetched instance
        EXPECT_NE(walk->nextInstance(), nullptr);
        EXPECT_FALSE(walk->reachedEnd());
        EXPECT_EQ(walk->nextInstance(), nullptr);
        EXPECT_TRUE(walk->reachedEnd());
        EXPECT_EQ(walk->nextInstance(), nullptr);
        EXPECT_EQ(enumerator.timeouts.size(), 3u);  // nothing asked after the end
    }
    // Dropped before its prefetched instance was taken: the instance is released with it.
    session.enumerateClass(u"Win32_Processor");
    EXPECT_TRUE(first.balanced());
    EXPECT_TRUE(second.balanced());
    ASSERT_EQ(services.calls.size(), 2u);
    EXPECT_EQ(services.calls[0].kind, L"enum");
    EXPECT_EQ(services.calls[0].flags, kEnumerateFlags);
    EXPECT_TRUE(services.calls[0].wellFormed);
}

TEST_F(WmiSessionTest, EmptyEnumerationAsksWmiOnce) {
    services.answer(L"Win32_BIOS", {walk({})});
    services.answer(L"Win32_Processor", {walk({})});
    BiosInfo bios;
    setTextField(bios.name, u"kept");
    EXPECT_EQ(queryBios(bios, platformSession), 0);
    EXPECT_EQ(field(bios.name), u"kept");
    std::vector<ProcessorInfo> processors(1);
    EXPECT_EQ(queryProcessors(processors, platformSession), 0);
    EXPECT_TRUE(processors.empty());
    ASSERT_EQ(services.enumerators.size(), 2u);
    EXPECT_EQ(services.enumerators[0]->timeouts.size(), 1u);
    EXPECT_EQ(services.enumerators[1]->timeouts.size(), 1u);
}

// In semisynchronous mode a query that fails, or a provider that does not answer, shows only at
// the first Next: the call fails as a synchronous one would, and the probe keeps its data.
TEST_F(WmiSessionTest, TimeOutOrErrorOnTheFirstNextFailsTheEnumeration) {
    const std::vector<HRESULT> results = {WBEM_S_TIMEDOUT, static_cast<HRESULT>(WBEM_E_FAILED),
                                          static_cast<HRESULT>(WBEM_E_INVALID_QUERY),
                                          WBEM_S_NO_ERROR /* but no instance */};
    std::vector<CallAnswer> answers;
    for (const HRESULT result : results) {
        answers.push_back(walk({answer(result)}));
    }
    services.answer(L"Win32_Processor", answers);
    std::vector<ProcessorInfo> processors(1);
    setTextField(processors[0].deviceId, u"kept");
    for (const HRESULT result : results) {
        EXPECT_EQ(queryProcessors(processors, platformSession), -1) << std::hex << result;
    }
    ASSERT_EQ(processors.size(), 1u);
    EXPECT_EQ(field(processors[0].deviceId), u"kept");
    for (const auto& enumerator : services.enumerators) {
        EXPECT_EQ(enumerator->timeouts.size(), 1u);
    }
}

TEST_F(WmiSessionTest, TimeOutOrErrorLaterInTheWalkLeavesNoPartialList) {
    FakeClassObject cpu0;
    cpu0.text(L"DeviceID", L"CPU0");
    services.answer(L"Win32_Processor", {walk({instance(cpu0), answer(WBEM_S_TIMEDOUT)}),
                                         walk({instance(cpu0), answer(WBEM_E_TRANSPORT_FAILURE)}),
                                         walk({instance(cpu0)})});
    std::vector<ProcessorInfo> processors(2);
    setTextField(processors[1].deviceId, u"kept");
    EXPECT_EQ(queryProcessors(processors, platformSession), -1);
    EXPECT_EQ(queryProcessors(processors, platformSession), -1);
    ASSERT_EQ(processors.size(), 2u);
    EXPECT_EQ(field(processors[1].deviceId), u"kept");
    EXPECT_EQ(queryProcessors(processors, platformSession), 1);
    ASSERT_EQ(processors.size(), 1u);
    EXPECT_EQ(field(processors[0].deviceId), u"CPU0");
    EXPECT_TRUE(cpu0.balanced());
}

// All Next calls of one walk share 5 s, counted from before the call that started it; a spent
// budget waits 0 ms, never a negative (endless) time.
TEST_F(WmiSessionTest, OneWalkSharesAFiveSecondBudget) {
    FakeClassObject a;
    FakeClassObject b;
    FakeClassObject c;
    CallAnswer slow = walk({instance(a, 1200), instance(b, 3000), instance(c, 1500)});
    slow.elapsedMs = 300;
    services.answer(L"Win32_Processor", {slow, walk({})});
    std::vector<ProcessorInfo> processors;
    EXPECT_EQ(queryProcessors(processors, platformSession), 3);
    EXPECT_EQ(services.enumerators.at(0)->timeouts, (std::vector<LONG>{4700, 3500, 500, 0}));
    EXPECT_EQ(queryProcessors(processors, platformSession), 0);
    EXPECT_EQ(services.enumerators.at(1)->timeouts, (std::vector<LONG>{5000}));
}

TEST_F(WmiSessionTest, OnlyAnExactSuccessStartsAWalk) {
    services.answer(L"Win32_BIOS", {called(WBEM_S_FALSE, true), called(WBEM_E_ACCESS_DENIED, true),
                                    called(WBEM_S_NO_ERROR, false)});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(session.enumerateClass(u"Win32_BIOS"), nullptr);
    }
    for (const auto& enumerator : services.enumerators) {
        EXPECT_TRUE(enumerator->timeouts.empty());
    }
    const std::u16string diskQuery = u"Select * from Win32_LogicalDisk Where DriveType = 3";
    services.answer(std::wstring(diskQuery.begin(), diskQuery.end()), {walk({})});
    DiskTable disks;
    EXPECT_EQ(queryLogicalDisks(disks, platformSession), 0);
    EXPECT_EQ(services.calls.back().kind, L"WQL");
    EXPECT_EQ(services.calls.back().flags, kQueryFlags);
    EXPECT_TRUE(services.calls.back().wellFormed);

    session.close();
    EXPECT_EQ(session.execWqlQuery(diskQuery.c_str()), nullptr);
    EXPECT_EQ(services.calls.size(), 4u);
}

VARIANT variantOf(VARTYPE type) {
    VARIANT value;
    VariantInit(&value);
    value.vt = type;
    return value;
}

TEST_F(WmiSessionTest, ReadersTakeOnlyTheTypesWmiDeliversForThem) {
    CountedUnknown unknown;
    {
        FakeClassObject object;
        object.text(L"Text", L"Xeon\u00ae 8\u00a0GHz").text(L"Big", L"18446744073709551615");
        VARIANT value = variantOf(VT_BSTR);  // a null BSTR is an empty string
        object.set(L"EmptyText", value);
        object.set(L"Null", variantOf(VT_NULL));
        value = variantOf(VT_I4);
        value.lVal = -1;
        object.set(L"Int", value);
        value = variantOf(VT_UI4);
        value.ulVal = 3700;
        object.set(L"UInt", value);
        value = variantOf(VT_I2);
        value.iVal = 7;
        object.set(L"Short", value);
        value = variantOf(VT_BOOL);
        value.boolVal = VARIANT_TRUE;
        object.set(L"Bool", value);
        value = variantOf(VT_UI8);
        value.ullVal = 5;
        object.set(L"UInt64", value);
        value = variantOf(VT_UNKNOWN);
        value.punkVal = &unknown;
        object.set(L"Object", value);  // VariantCopy takes its own reference

        services.answer(L"Win32_Processor", {walk({instance(object)})});
        {
            const auto walk = session.enumerateClass(u"Win32_Processor");
            ASSERT_NE(walk, nullptr);
            const auto read = walk->nextInstance();
            ASSERT_NE(read, nullptr);

            TextField text{};
            for (const char16_t* refused :
                 {u"Null", u"Int", u"UInt", u"Object", u"Missing", u"UInt64"}) {
                setTextField(text, u"earlier");
                readTextProperty(*read, refused, text);
                EXPECT_EQ(field(text), u"earlier") << utf16ToUtf8(refused);
            }
            readTextProperty(*read, u"Text", text);
            EXPECT_EQ(field(text), u"Xeon\u00ae 8\u00a0GHz");
            readTextProperty(*read, u"EmptyText", text);
            EXPECT_EQ(field(text), u"");

            std::uint32_t number = 99;
            readUInt32Property(*read, u"Int", number);
            EXPECT_EQ(number, 4294967295u);
            readUInt32Property(*read, u"UInt", number);
            EXPECT_EQ(number, 3700u);
            for (const char16_t* refused :
                 {u"Short", u"Bool", u"Null", u"Text", u"Object", u"Missing", u"UInt64"}) {
                number = 99;
                readUInt32Property(*read, refused, number);
                EXPECT_EQ(number, 0u) << utf16ToUtf8(refused);
            }

            std::uint64_t wide = 99;
            readUInt64Property(*read, u"Big", wide);
            EXPECT_EQ(wide, std::numeric_limits<std::uint64_t>::max());
            for (const char16_t* refused : {u"UInt64", u"Int", u"Null", u"Object"}) {
                wide = 99;
                readUInt64Property(*read, refused, wide);
                EXPECT_EQ(wide, 0u) << utf16ToUtf8(refused);
            }
        }
        EXPECT_EQ(object.badGets, 0);
        EXPECT_TRUE(object.balanced());
    }
    // Every VARIANT a Get filled was cleared, refused types included.
    EXPECT_TRUE(unknown.balanced());
}

// The first-time probes are tried again after a slow first refresh, and only until they succeed.
TEST_F(WmiSessionTest, SnapshotRetriesInventoryAfterASlowStart) {
    FakeClassObject bios;
    bios.text(L"Name", L"Late BIOS");
    FakeClassObject computer;
    computer.text(L"Name", L"HOST1");
    FakeClassObject cpu0;
    cpu0.text(L"DeviceID", L"CPU0");
    FakeClassObject cpu1;
    cpu1.text(L"DeviceID", L"CPU1");
    services.answer(L"Win32_BIOS", {walk({answer(WBEM_S_TIMEDOUT, 5000)}), walk({instance(bios)})});
    services.answer(L"Win32_ComputerSystem", {walk({instance(computer)})});
    services.answer(L"Win32_Processor", {walk({instance(cpu0), answer(WBEM_S_TIMEDOUT, 5000)}),
                                         walk({instance(cpu0), instance(cpu1)})});
    {
        SystemSnapshot snapshot(platformSession);
        refreshSnapshot(snapshot);
        EXPECT_EQ(field(snapshot.bios.name), u"");
        EXPECT_EQ(field(snapshot.computerSystem.name), u"HOST1");
        EXPECT_TRUE(snapshot.processors.empty());

        refreshSnapshot(snapshot);
        EXPECT_EQ(field(snapshot.bios.name), u"Late BIOS");
        ASSERT_EQ(snapshot.processors.size(), 2u);
        EXPECT_EQ(field(snapshot.processors[1].deviceId), u"CPU1");

        refreshSnapshot(snapshot);
        EXPECT_EQ(services.callsFor(L"Win32_BIOS"), 2);
        EXPECT_EQ(services.callsFor(L"Win32_ComputerSystem"), 1);
        EXPECT_EQ(services.callsFor(L"Win32_Processor"), 2);
        EXPECT_EQ(services.callsFor(L"Win32_OperatingSystem"), 3);
    }
    for (const FakeClassObject* object : {&bios, &computer, &cpu0, &cpu1}) {
        EXPECT_TRUE(object->balanced());
    }
}

// open connects through the locator COM hands out for WbemAdministrativeLocator; a second open
// lets go of the first connection, and close may run any number of times.
TEST(WmiSessionOpenTest, OpenTwiceAndCloseTwiceHoldAndReleaseEachReferenceOnce) {
    FakeServices services;
    FakeLocator locator;
    locator.target = &services;
    FakeLocatorFactory factory(locator);
    DWORD cookie = 0;
    // In-process only: a local-server registration would go through the COM service.
    ASSERT_EQ(CoRegisterClassObject(kLocatorClass, &factory, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    {
        WmiSession session;
        ASSERT_TRUE(session.open());
        EXPECT_EQ(locator.connects, 1);
        ASSERT_EQ(locator.resources.size(), 1u);
        EXPECT_EQ(locator.resources[0], L"\\\\.\\root\\cimv2");
        EXPECT_EQ(locator.lastFlags, WBEM_FLAG_CONNECT_USE_MAX_WAIT);
        EXPECT_EQ(static_cast<void*>(session.locator), static_cast<void*>(&locator));
        EXPECT_EQ(static_cast<void*>(session.services), static_cast<void*>(&services));
        EXPECT_NE(session.namespacePath, nullptr);
        EXPECT_EQ(locator.references, 2);
        EXPECT_EQ(services.references, 2);

        // Windows refuses a second CoInitializeSecurity in a process; where it is allowed, the
        // failing connection is what ends this open. Either way nothing stays held.
        locator.connectResult = WBEM_E_ACCESS_DENIED;
        EXPECT_FALSE(session.open());
        EXPECT_EQ(session.locator, nullptr);
        EXPECT_EQ(session.services, nullptr);
        EXPECT_EQ(session.namespacePath, nullptr);
        EXPECT_TRUE(locator.balanced());
        EXPECT_TRUE(services.balanced());
        RecordProperty("connects", locator.connects);

        session.close();
        session.close();
    }
    EXPECT_TRUE(locator.balanced());
    EXPECT_TRUE(services.balanced());
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_TRUE(factory.balanced());
}

// The fake locator, handed out by COM for WbemAdministrativeLocator while this lives.
class RegisteredLocator {
  public:
    explicit RegisteredLocator(FakeLocator& locator) : factory_(locator) {
        // In-process only: a local-server registration would go through the COM service.
        registered_ = CoRegisterClassObject(kLocatorClass, &factory_, CLSCTX_INPROC_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie_) == S_OK;
    }
    ~RegisteredLocator() {
        if (registered_) {
            CoRevokeClassObject(cookie_);
        }
    }
    RegisteredLocator(const RegisteredLocator&) = delete;
    RegisteredLocator& operator=(const RegisteredLocator&) = delete;

    bool registered() const { return registered_; }

  private:
    FakeLocatorFactory factory_;
    DWORD cookie_ = 0;
    bool registered_ = false;
};

// WMI still starting when the agent starts: the agent goes on without it, each later refresh
// connects again, and the inventory appears once a connection succeeds.
TEST(WmiSessionOpenTest, AConnectionThatFailsTwiceIsTriedAgainUntilTheInventoryAppears) {
    FakeServices services;
    FakeLocator locator;
    locator.target = &services;
    FakeClassObject bios;
    bios.text(L"Name", L"Late BIOS");
    services.answer(L"Win32_BIOS", {walk({instance(bios)})});
    {
        const RegisteredLocator registration(locator);
        ASSERT_TRUE(registration.registered());
        Session session{std::make_unique<SessionState>(testClock)};
        locator.connectResult = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
        EXPECT_FALSE(session.open());
        if (locator.connects == 0) {
            GTEST_SKIP() << "this system sets up COM security once per process";
        }
        SystemSnapshot snapshot(session);
        refreshSnapshot(snapshot);
        EXPECT_EQ(field(snapshot.bios.name), u"");

        EXPECT_FALSE(session.retryOpen());
        EXPECT_EQ(locator.connects, 2);
        locator.connectResult = S_OK;
        EXPECT_TRUE(session.retryOpen());
        EXPECT_TRUE(session.retryOpen());
        EXPECT_EQ(locator.connects, 3);  // once open, never again
        refreshSnapshot(snapshot);
        EXPECT_EQ(field(snapshot.bios.name), u"Late BIOS");

        session.close();
        EXPECT_FALSE(session.retryOpen());  // no connection during or after shutdown
        EXPECT_EQ(locator.connects, 3);
    }
    EXPECT_TRUE(locator.balanced());
    EXPECT_TRUE(services.balanced());
    EXPECT_TRUE(bios.balanced());
}

// open waits a few seconds, not the two minutes ConnectServer may take; the connection that
// answers later is the one a later retry takes, without a second attempt.
TEST(WmiSessionOpenTest, AConnectionThatAnswersLateIsTakenByALaterRetry) {
    FakeServices services;
    FakeLocator locator;
    locator.target = &services;
    locator.gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(locator.gate, nullptr);
    {
        const RegisteredLocator registration(locator);
        ASSERT_TRUE(registration.registered());
        WmiSession session;
        EXPECT_FALSE(session.open());
        EXPECT_EQ(session.services, nullptr);
        SetEvent(locator.gate);
        const bool taken = session.retryOpen();
        if (!taken && locator.connects == 0) {
            GTEST_SKIP() << "this system sets up COM security once per process";
        }
        EXPECT_TRUE(taken);
        EXPECT_EQ(locator.connects, 1);
        EXPECT_EQ(static_cast<void*>(session.services), static_cast<void*>(&services));
        session.close();
    }
    CloseHandle(locator.gate);
    EXPECT_TRUE(locator.balanced());
    EXPECT_TRUE(services.balanced());
}

}  // namespace
}  // namespace quorvane
