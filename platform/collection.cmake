# Data collection: the session operations, the probes and the memory status.
list(APPEND QUORVANE_PLATFORM_SOURCES
    platform/WmiAccess.cpp
    platform/Probes.cpp
    platform/${QUORVANE_BACKEND}/WmiSession.cpp
    platform/${QUORVANE_BACKEND}/Memory.cpp
)
if(QUORVANE_BACKEND STREQUAL "linux")
    # The stand-in instance source and its readers of /proc, /sys and statvfs.
    list(APPEND QUORVANE_PLATFORM_SOURCES
        platform/linux/LinuxInstanceSource.cpp
        platform/linux/WqlQuery.cpp
        platform/linux/SystemFiles.cpp
        platform/linux/CpuInfo.cpp
        platform/linux/MountInfo.cpp
        platform/linux/BoundedStatvfs.cpp
        platform/linux/ProcStat.cpp
        platform/linux/MemoryStatus.cpp
        platform/linux/HostIdentity.cpp
        platform/linux/CimDateTime.cpp
    )
endif()
if(WIN32)
    list(APPEND QUORVANE_PLATFORM_LIBS ole32 oleaut32 wbemuuid)
endif()
