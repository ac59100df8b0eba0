// The WMI probes, as the snapshot calls them, over a session whose connection is a fake.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/FakeWmi.h"
#include "platform/Session.h"
#include "platform/wmi/WmiConnection.h"
#include "snapshot/Probes.h"

namespace quorvane {

// This binary's back end: a session over a fake connection, in place of the Windows one.
struct SessionState {
    WmiConnection* wmi;
};

Session::Session() = default;
Session::Session(std::unique_ptr<SessionState> state) : state_(std::move(state)) {}
Session::~Session() = default;
bool Session::open() {
    return state_ != nullptr;
}
bool Session::retryOpen() {
    return state_ != nullptr;
}
void Session::close() {
    state_.reset();
}

WmiConnection* wmiConnectionOf(Session& session) {
    return session.state() != nullptr ? session.state()->wmi : nullptr;
}

namespace {

using fake::FakeInstance;
using fake::integerValue;
using fake::nullValue;
using fake::textValue;

const std::u16string kDiskQuery = u"Select * from Win32_LogicalDisk Where DriveType = 3";
const std::u16string kCpuQuery =
    u"Select PercentPrivilegedTime,PercentUserTime,TimeStamp_Sys100NS from "
    u"Win32_PerfRawData_PerfOS_Processor Where Name='_Total'";

std::u16string field(const TextField& text) {
    return textFieldValue(text);
}

FakeInstance diskInstance(const std::u16string& deviceId, std::uint64_t size) {
    return {{u"DeviceID", textValue(deviceId)},
            {u"DriveType", integerValue(3)},
            {u"Size", textValue(utf8ToUtf16(std::to_string(size)))},
            {u"FreeSpace", textValue(utf8ToUtf16(std::to_string(size / 2)))},
            {u"VolumeName", textValue(u"Volume " + deviceId)},
            {u"FileSystem", textValue(u"NTFS")}};
}

std::vector<FakeInstance> disks(int count) {
    std::vector<FakeInstance> instances;
    for (int i = 0; i < count; ++i) {
        instances.push_back(diskInstance(utf8ToUtf16(std::to_string(i) + ":"), 1000u + i));
    }
    return instances;
}

class ProbesTest : public ::testing::Test {
  protected:
    fake::FakeWmiConnection source;
    Session session{std::make_unique<SessionState>(SessionState{&source})};
};

// --- single-instance probes ------------------------------------------------------------------

TEST_F(ProbesTest, BiosTakesTheFirstInstanceOnlyAndStopsWalking) {
    source.setClass(u"Win32_BIOS", {{{u"SMBIOSBIOSVersion", textValue(u"1.2.3")},
                                     {u"Manufacturer", textValue(u"Acme")},
                                     {u"Name", textValue(u"Acme BIOS")},
                                     {u"SerialNumber", textValue(u"SN-1")},
                                     {u"Version", textValue(u"ACME - 1")}},
                                    {{u"Manufacturer", textValue(u"Second")}}});
    BiosInfo bios;
    EXPECT_EQ(queryBios(bios, session), 1);
    EXPECT_EQ(field(bios.smbiosBiosVersion), u"1.2.3");
    EXPECT_EQ(field(bios.manufacturer), u"Acme");
    EXPECT_EQ(field(bios.name), u"Acme BIOS");
    EXPECT_EQ(field(bios.serialNumber), u"SN-1");
    EXPECT_EQ(field(bios.version), u"ACME - 1");

    const auto& log = source.log();
    EXPECT_EQ(log.enumeratedClasses, std::vector<std::u16string>{u"Win32_BIOS"});
    EXPECT_EQ(log.nextCalls, 1);
    EXPECT_EQ(log.instancesReleased, 1);
    EXPECT_EQ(log.enumeratorsReleased, 1);
    EXPECT_EQ(log.propertiesRead,
              (std::vector<std::u16string>{u"SMBIOSBIOSVersion", u"Manufacturer", u"Name",
                                           u"SerialNumber", u"Version"}));
}

TEST_F(ProbesTest, ComputerSystemReadsItsPropertiesInOrder) {
    source.setClass(u"Win32_ComputerSystem", {{{u"Domain", textValue(u"corp.example")},
                                               {u"Manufacturer", textValue(u"Acme")},
                                               {u"Model", textValue(u"Box 9")},
                                               {u"Name", textValue(u"HOST1")},
                                               {u"PrimaryOwnerName", nullValue()}}});
    ComputerSystemInfo computer;
    EXPECT_EQ(queryComputerSystem(computer, session), 1);
    EXPECT_EQ(field(computer.domain), u"corp.example");
    EXPECT_EQ(field(computer.model), u"Box 9");
    EXPECT_EQ(field(computer.name), u"HOST1");
    EXPECT_EQ(field(computer.primaryOwnerName), u"");
    EXPECT_EQ(source.log().propertiesRead,
              (std::vector<std::u16string>{u"Domain", u"Manufacturer", u"Model", u"Name",
                                           u"PrimaryOwnerName"}));
}

TEST_F(ProbesTest, NullAndMissingTextPropertiesKeepTheEarlierContent) {
    source.setClass(u"Win32_OperatingSystem",
                    {{{u"Version", textValue(u"10.0.19045")},
                      {u"LastBootUpTime", nullValue()},
                      {u"LocalDateTime", integerValue(5)}}});  // not a string: unreadable as text
    OperatingSystemInfo os;
    setTextField(os.lastBootUpTime, u"20261201080000.000000+060");
    setTextField(os.localDateTime, u"20261209101112.000000+060");
    EXPECT_EQ(queryOperatingSystem(os, session), 1);
    EXPECT_EQ(field(os.version), u"10.0.19045");
    EXPECT_EQ(field(os.lastBootUpTime), u"20261201080000.000000+060");
    EXPECT_EQ(field(os.localDateTime), u"20261209101112.000000+060");
}

TEST_F(ProbesTest, LaterOperatingSystemRefreshKeepsLocalTimeWhoseReadFails) {
    source.setClass(u"Win32_OperatingSystem",
                    {{{u"Version", textValue(u"10.0")},
                      {u"LastBootUpTime", textValue(u"20261201080000.000000+060")},
                      {u"LocalDateTime", textValue(u"20261209101112.000000+060")}}});
    OperatingSystemInfo os;
    ASSERT_EQ(queryOperatingSystem(os, session), 1);
    source.setClass(u"Win32_OperatingSystem",
                    {{{u"Version", textValue(u"10.1")},
                      {u"LastBootUpTime", textValue(u"20261201080000.000000+060")}}});
    EXPECT_EQ(queryOperatingSystem(os, session), 1);
    EXPECT_EQ(field(os.version), u"10.1");
    EXPECT_EQ(field(os.localDateTime), u"20261209101112.000000+060");
}

TEST_F(ProbesTest, SingleInstanceProbesLeaveTheirDestinationOnFailureOrNoInstance) {
    BiosInfo bios;
    setTextField(bios.name, u"earlier");
    ComputerSystemInfo computer;
    setTextField(computer.name, u"earlier");
    OperatingSystemInfo os;
    setTextField(os.version, u"earlier");

    EXPECT_EQ(queryBios(bios, session), -1);
    EXPECT_EQ(queryComputerSystem(computer, session), -1);
    EXPECT_EQ(queryOperatingSystem(os, session), -1);
    EXPECT_EQ(source.log().nextCalls, 0);

    source.setClass(u"Win32_BIOS", {});
    source.setClass(u"Win32_ComputerSystem", {});
    source.setClass(u"Win32_OperatingSystem", {});
    EXPECT_EQ(queryBios(bios, session), 0);
    EXPECT_EQ(queryComputerSystem(computer, session), 0);
    EXPECT_EQ(queryOperatingSystem(os, session), 0);
    EXPECT_EQ(source.log().enumeratorsReleased, 3);

    EXPECT_EQ(field(bios.name), u"earlier");
    EXPECT_EQ(field(computer.name), u"earlier");
    EXPECT_EQ(field(os.version), u"earlier");
}

// A closed session has no connection: every probe fails without asking the source.
TEST_F(ProbesTest, ClosedSessionFailsEveryProbeAndKeepsTheDestinations) {
    source.setClass(u"Win32_BIOS", {{{u"Name", textValue(u"late")}}});
    source.setClass(u"Win32_ComputerSystem", {{{u"Name", textValue(u"late")}}});
    source.setClass(u"Win32_OperatingSystem", {{{u"Version", textValue(u"late")}}});
    source.setClass(u"Win32_Processor", {{{u"DeviceID", textValue(u"late")}}});
    source.setQuery(kDiskQuery, disks(1));
    source.setQuery(kCpuQuery, {{{u"PercentUserTime", textValue(u"1")}}});
    session.close();

    BiosInfo bios;
    setTextField(bios.name, u"earlier");
    ComputerSystemInfo computer;
    OperatingSystemInfo os;
    std::vector<ProcessorInfo> processors(1);
    DiskTable table;
    table[0].inUse = 1;
    CpuTimesSample sample{5, 6, 7};
    EXPECT_EQ(queryBios(bios, session), -1);
    EXPECT_EQ(queryComputerSystem(computer, session), -1);
    EXPECT_EQ(queryOperatingSystem(os, session), -1);
    EXPECT_EQ(queryProcessors(processors, session), -1);
    EXPECT_EQ(queryLogicalDisks(table, session), -1);
    EXPECT_EQ(queryCpuTimes(session, sample), -1);

    EXPECT_EQ(field(bios.name), u"earlier");
    EXPECT_EQ(processors.size(), 1u);
    EXPECT_EQ(table[0].inUse, 1);
    EXPECT_EQ(sample.percentUserTime, 6u);
    EXPECT_TRUE(source.log().enumeratedClasses.empty());
    EXPECT_TRUE(source.log().queries.empty());
}

// --- processors --------------------------------------------------------------------------------

TEST_F(ProbesTest, ProcessorsKeepEnumerationOrderAndMissingCountsAreZero) {
    source.setClass(u"Win32_Processor",
                    {{{u"DeviceID", textValue(u"CPU0")},
                      {u"Caption", textValue(u"Intel64 Family 6 Model 85 Stepping 4")},
                      {u"Manufacturer", textValue(u"GenuineIntel")},
                      {u"Name", textValue(u"Xeon")},
                      {u"Version", nullValue()},
                      {u"MaxClockSpeed", integerValue(3700)},
                      {u"NumberOfCores", integerValue(16)},
                      {u"NumberOfLogicalProcessors", integerValue(32)}},
                     {{u"DeviceID", textValue(u"CPU1")},
                      {u"MaxClockSpeed", integerValue(2100)},
                      {u"NumberOfCores", nullValue()}}});
    std::vector<ProcessorInfo> processors(3);
    setTextField(processors[0].name, u"stale");
    EXPECT_EQ(queryProcessors(processors, session), 2);
    ASSERT_EQ(processors.size(), 2u);
    EXPECT_EQ(field(processors[0].deviceId), u"CPU0");
    EXPECT_EQ(field(processors[0].name), u"Xeon");
    EXPECT_EQ(field(processors[0].version), u"");
    EXPECT_EQ(processors[0].maxClockSpeed, 3700u);
    EXPECT_EQ(processors[0].numberOfCores, 16u);
    EXPECT_EQ(processors[0].numberOfLogicalProcessors, 32u);
    EXPECT_EQ(field(processors[1].deviceId), u"CPU1");
    EXPECT_EQ(field(processors[1].name), u"");
    EXPECT_EQ(processors[1].maxClockSpeed, 2100u);
    EXPECT_EQ(processors[1].numberOfCores, 0u);
    EXPECT_EQ(processors[1].numberOfLogicalProcessors, 0u);
    EXPECT_EQ(source.log().instancesReleased, 2);
    EXPECT_EQ(source.log().enumeratorsReleased, 1);
}

TEST_F(ProbesTest, ProcessorListIsEmptiedOnlyAfterASuccessfulEnumeration) {
    std::vector<ProcessorInfo> processors(2);
    setTextField(processors[1].deviceId, u"CPU1");
    EXPECT_EQ(queryProcessors(processors, session), -1);
    ASSERT_EQ(processors.size(), 2u);
    EXPECT_EQ(field(processors[1].deviceId), u"CPU1");

    source.setClass(u"Win32_Processor", {});
    EXPECT_EQ(queryProcessors(processors, session), 0);
    EXPECT_TRUE(processors.empty());
}

TEST_F(ProbesTest, WalksCutShortByATimeOutAreFailuresAndKeepTheDestination) {
    source.setClass(u"Win32_Processor", {{{u"DeviceID", textValue(u"CPU0")}},
                                         {{u"DeviceID", textValue(u"CPU1")}},
                                         {{u"DeviceID", textValue(u"CPU2")}}});
    source.timeOutClassAfter(u"Win32_Processor", 2);
    std::vector<ProcessorInfo> processors(1);
    setTextField(processors[0].deviceId, u"earlier");
    EXPECT_EQ(queryProcessors(processors, session), -1);
    ASSERT_EQ(processors.size(), 1u);
    EXPECT_EQ(field(processors[0].deviceId), u"earlier");
    EXPECT_EQ(source.log().instancesReleased, 2);
    EXPECT_EQ(source.log().enumeratorsReleased, 1);

    source.setClass(u"Win32_BIOS", {{{u"Name", textValue(u"late")}}});
    source.timeOutClassAfter(u"Win32_BIOS", 0);
    BiosInfo bios;
    EXPECT_EQ(queryBios(bios, session), -1);
    EXPECT_EQ(field(bios.name), u"");
}

// --- logical disks -----------------------------------------------------------------------------

TEST_F(ProbesTest, ThreeDisksAfterFiveLeaveTheOtherSlotsEmpty) {
    source.setQuery(kDiskQuery, disks(5));
    DiskTable table;
    ASSERT_EQ(queryLogicalDisks(table, session), 5);
    source.setQuery(kDiskQuery,
                    {diskInstance(u"X:", 7), diskInstance(u"Y:", 8), diskInstance(u"Z:", 9)});
    EXPECT_EQ(queryLogicalDisks(table, session), 3);
    EXPECT_EQ(field(table[0].deviceId), u"X:");
    EXPECT_EQ(field(table[2].deviceId), u"Z:");
    EXPECT_EQ(table[2].size, 9u);
    EXPECT_EQ(table[2].freeSpace, 4u);
    EXPECT_EQ(table[2].driveType, 3u);
    EXPECT_EQ(field(table[2].volumeName), u"Volume Z:");
    EXPECT_EQ(field(table[2].fileSystem), u"NTFS");
    for (std::size_t slot = 3; slot < kMaxDisks; ++slot) {
        EXPECT_EQ(table[slot].inUse, 0) << slot;
        EXPECT_EQ(textFieldLength(table[slot].deviceId), 0u) << slot;
        EXPECT_EQ(table[slot].size, 0u) << slot;
    }
}

TEST_F(ProbesTest, TwentySevenDisksFillAllSlotsAndTheLastIsNeverRequested) {
    source.setQuery(kDiskQuery, disks(27));
    DiskTable table;
    EXPECT_EQ(queryLogicalDisks(table, session), 26);
    EXPECT_EQ(source.log().nextCalls, 26);
    EXPECT_EQ(source.log().instancesDelivered, 26);
    EXPECT_EQ(source.log().instancesReleased, 26);
    EXPECT_EQ(source.log().enumeratorsReleased, 1);
    for (std::size_t slot = 0; slot < kMaxDisks; ++slot) {
        EXPECT_EQ(table[slot].inUse, 1);
        EXPECT_EQ(table[slot].size, 1000u + slot);
    }
    EXPECT_EQ(field(table[25].deviceId), u"25:");
}

TEST_F(ProbesTest, FailedDiskQueryKeepsThePreviousTable) {
    source.setQuery(kDiskQuery, disks(2));
    DiskTable table;
    ASSERT_EQ(queryLogicalDisks(table, session), 2);
    source.removeQuery(kDiskQuery);
    EXPECT_EQ(queryLogicalDisks(table, session), -1);
    EXPECT_EQ(table[0].inUse, 1);
    EXPECT_EQ(table[1].inUse, 1);
    EXPECT_EQ(field(table[1].deviceId), u"1:");
    EXPECT_EQ(table[1].size, 1001u);
    EXPECT_EQ(table[2].inUse, 0);
}

TEST_F(ProbesTest, DiskWithUnreadablePropertiesIsStillInUse) {
    source.setQuery(kDiskQuery, {{{u"DeviceID", textValue(u"C:")}, {u"VolumeName", nullValue()}},
                                 {{u"Size", nullValue()}, {u"FreeSpace", textValue(u"")}}});
    DiskTable table;
    EXPECT_EQ(queryLogicalDisks(table, session), 2);
    EXPECT_EQ(table[0].inUse, 1);
    EXPECT_EQ(field(table[0].deviceId), u"C:");
    EXPECT_EQ(field(table[0].volumeName), u"");
    EXPECT_EQ(table[1].inUse, 1);
    EXPECT_EQ(textFieldLength(table[1].deviceId), 0u);
    EXPECT_EQ(table[1].driveType, 0u);
    EXPECT_EQ(table[1].size, 0u);
    EXPECT_EQ(table[1].freeSpace, 0u);
    EXPECT_EQ(std::vector<std::u16string>(source.log().propertiesRead.begin(),
                                          source.log().propertiesRead.begin() + 6),
              (std::vector<std::u16string>{u"DeviceID", u"DriveType", u"Size", u"FreeSpace",
                                           u"VolumeName", u"FileSystem"}));
}

TEST_F(ProbesTest, NoFixedDiskEmptiesEverySlot) {
    source.setQuery(kDiskQuery, disks(4));
    DiskTable table;
    ASSERT_EQ(queryLogicalDisks(table, session), 4);
    source.setQuery(kDiskQuery, {});
    EXPECT_EQ(queryLogicalDisks(table, session), 0);
    for (const DiskInfo& disk : table) {
        EXPECT_EQ(disk.inUse, 0);
    }
}

// --- processor counters ------------------------------------------------------------------------

TEST_F(ProbesTest, CpuTimesReadTheThreeCountersOfTheTotalInstance) {
    source.setQuery(kCpuQuery, {{{u"PercentPrivilegedTime", textValue(u"1000")},
                                 {u"PercentUserTime", textValue(u"2000")},
                                 {u"TimeStamp_Sys100NS", textValue(u"5000")}}});
    CpuTimesSample sample;
    EXPECT_EQ(queryCpuTimes(session, sample), 1);
    EXPECT_EQ(sample.percentPrivilegedTime, 1000u);
    EXPECT_EQ(sample.percentUserTime, 2000u);
    EXPECT_EQ(sample.timeStampSys100NS, 5000u);
    EXPECT_EQ(source.log().queries, std::vector<std::u16string>{kCpuQuery});
}

TEST_F(ProbesTest, UnreadableCounterIsZeroInThisSample) {
    source.setQuery(kCpuQuery, {{{u"PercentPrivilegedTime", textValue(u"")},
                                 {u"TimeStamp_Sys100NS", textValue(u"77")}}});
    CpuTimesSample sample{5, 6, 7};
    EXPECT_EQ(queryCpuTimes(session, sample), 1);
    EXPECT_EQ(sample.percentPrivilegedTime, 0u);
    EXPECT_EQ(sample.percentUserTime, 0u);
    EXPECT_EQ(sample.timeStampSys100NS, 77u);
}

TEST_F(ProbesTest, CpuTimesLeaveTheSampleWhenTheQueryFailsOrFindsNoTotal) {
    CpuTimesSample sample{5, 6, 7};
    EXPECT_EQ(queryCpuTimes(session, sample), -1);
    source.setQuery(kCpuQuery, {});
    EXPECT_EQ(queryCpuTimes(session, sample), 1);
    EXPECT_EQ(sample.percentPrivilegedTime, 5u);
    EXPECT_EQ(sample.percentUserTime, 6u);
    EXPECT_EQ(sample.timeStampSys100NS, 7u);
}

}  // namespace
}  // namespace quorvane
