# Data collection tests (probes, session readers, Linux back end).

# The probes and the session operations over a fake instance source, the WQL subset and the
# Linux back end over the fixture trees in fixtures/linux.
add_executable(collection_tests
    platform/ProbesTest.cpp
    platform/WmiAccessTest.cpp
)
if(QUORVANE_BACKEND STREQUAL "linux")
    target_sources(collection_tests PRIVATE
        platform/WqlTest.cpp
        platform/LinuxSourceTest.cpp
    )
endif()
target_compile_definitions(collection_tests PRIVATE
    QUORVANE_LINUX_FIXTURES="${CMAKE_CURRENT_SOURCE_DIR}/fixtures/linux")
target_include_directories(collection_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(collection_tests PRIVATE
    quorvane_core quorvane_platform GTest::gtest GTest::gtest_main)
gtest_discover_tests(collection_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "platform")

# The Linux back end on the machine itself, against independent sources of the same facts.
if(QUORVANE_BACKEND STREQUAL "linux")
    add_executable(live_collection_tests platform/LiveLinuxTest.cpp)
    target_link_libraries(live_collection_tests PRIVATE
        quorvane_platform GTest::gtest GTest::gtest_main)
    gtest_discover_tests(live_collection_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "platform")

    # statvfs bounded in time, over a fake that hangs; labelled so CI runs it under ThreadSanitizer.
    add_executable(bounded_statvfs_tests platform/BoundedStatvfsTest.cpp)
    target_link_libraries(bounded_statvfs_tests PRIVATE
        quorvane_platform GTest::gtest GTest::gtest_main)
    gtest_discover_tests(bounded_statvfs_tests DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "concurrency" TIMEOUT 60)
endif()
