# Data collection: the session operations, the probes and the memory status.
list(APPEND QUORVANE_PLATFORM_SOURCES
    platform/Probes.cpp
    platform/${QUORVANE_BACKEND}/WmiSession.cpp
    platform/${QUORVANE_BACKEND}/Memory.cpp
)
if(WIN32)
    list(APPEND QUORVANE_PLATFORM_LIBS ole32 oleaut32 wbemuuid)
endif()
