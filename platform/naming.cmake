# System naming, agent identity and uptime: the report-time operations.
list(APPEND QUORVANE_PLATFORM_SOURCES
    platform/${QUORVANE_BACKEND}/ReportOperations.cpp
)
if(WIN32)
    list(APPEND QUORVANE_PLATFORM_LIBS version advapi32)
endif()
