// What the Linux back end reads: a system tree ("/" for the agent, a fixture tree in tests) and
// the clock that stamps what it reads. Private to the platform library and its tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "CimDateTime.h"
#include "FileSystemFigures.h"
#include "MountInfo.h"
#include "OsRelease.h"
#include "ProcStat.h"
#include "SystemFiles.h"
#include "platform/Session.h"

namespace quorvane {

// The directory systemd's LoadCredential= fills, from $CREDENTIALS_DIRECTORY; empty without it.
std::string credentialsDirectory();

struct SessionState {
    std::string root = "/";
    // Credentials the service manager handed in ($CREDENTIALS_DIRECTORY); empty when none.
    std::string credentials = credentialsDirectory();
    // The operating system's LocalDateTime.
    WallClock wallClock = wallClockNow;
    // Size and free space of each fixed disk.
    FileSystemFiguresReader fileSystemFigures = statFileSystems;

    // Facts that do not change while the agent runs, read until they were found once.
    std::optional<std::string> kernelRelease;
    std::optional<std::uint64_t> startStack;
    BlockDeviceCache blockDevices;

    // The /proc files every refresh reads, open between refreshes.
    OpenProcFiles procFiles;
    // /proc/stat as queryCpuTimes read it last; queryOperatingSystem takes the boot time from it.
    std::optional<ProcStat> latestProcStat;
    // The operating system's names, read by the refresh, shown by the reports.
    OsReleaseReader osRelease;
};

// The names the report-time operations give the system: those the latest refresh read. Set by
// the refresh and read by the reports, both under snapshotMutex.
void setReportedOsNames(const OsNames& names);

// The tree the report-time operations read (/proc/uptime): the root of the session opened last,
// set by Session::open() before any report. Not while a report runs: those operations keep no
// lock of their own.
void setReportTimeRoot(const std::string& root);

}  // namespace quorvane
