# What the packages need from the build (scripts/package.sh). Linux: the install layout that
# debhelper splits into the agent's, the check plugin's and the exporter's packages (packaging/debian/). Windows: the product identity for the WiX source
# (packaging/windows/), taken from the same variables as the version resource.
if(QUORVANE_BACKEND STREQUAL "windows")
    # wixl takes the text of a define literally, up to its closing quote.
    foreach(_quorvane_text PRODUCT_NAME COPYRIGHT)
        if(QUORVANE_${_quorvane_text} MATCHES "\"")
            message(FATAL_ERROR "QUORVANE_${_quorvane_text} must not contain a double quote")
        endif()
    endforeach()
    # Windows Installer versions are at most 255.255.65535 and only these three parts count when
    # it compares versions; the fourth part still names the file and the report.
    if(QUORVANE_VERSION_MAJOR GREATER 255 OR QUORVANE_VERSION_MINOR GREATER 255)
        message(FATAL_ERROR "An installer version needs major and minor parts of at most 255")
    endif()
    # The first version above this one that Windows Installer tells apart: the end of the range
    # of builds of the same version that an installer replaces.
    if(QUORVANE_VERSION_PATCH LESS 65535)
        math(EXPR _quorvane_next "${QUORVANE_VERSION_PATCH} + 1")
        set(QUORVANE_MSI_NEXT_VERSION
            "${QUORVANE_VERSION_MAJOR}.${QUORVANE_VERSION_MINOR}.${_quorvane_next}")
    else()
        math(EXPR _quorvane_next "${QUORVANE_VERSION_MINOR} + 1")
        set(QUORVANE_MSI_NEXT_VERSION "${QUORVANE_VERSION_MAJOR}.${_quorvane_next}.0")
    endif()
    configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/identity.wxi.in
        ${CMAKE_CURRENT_BINARY_DIR}/generated/identity.wxi @ONLY)
else()
    include(GNUInstallDirs)
    # Debian 12 keeps units in /lib/systemd/system (debian/rules sets it); relative values are
    # taken below the prefix, e.g. /usr/local/lib/systemd/system for a local install.
    set(QUORVANE_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
        "Where the systemd unit is installed")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/linux/quorvane-agent.service.in
        ${CMAKE_CURRENT_BINARY_DIR}/generated/quorvane-agent.service @ONLY)
    install(TARGETS quorvane-agent RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/generated/quorvane-agent.service
        DESTINATION ${QUORVANE_SYSTEMD_UNIT_DIR})
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/linux/quorvane-agent.8
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
    # The check plugin, where Debian's monitoring plugins are, and its definitions where Icinga 2
    # (the contributed command definitions) and Debian's Nagios (/etc/nagios-plugins/config) read
    # them.
    if(TARGET check_quorvane)
        install(TARGETS check_quorvane RUNTIME DESTINATION lib/nagios/plugins)
        install(FILES ${PROJECT_SOURCE_DIR}/stations/icinga2/quorvane.conf
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icinga2/include/plugins-contrib.d)
        install(FILES ${PROJECT_SOURCE_DIR}/stations/nagios/quorvane.cfg
            DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/nagios-plugins/config)
        # The services and the dependency are the site's to apply: an example to copy.
        install(FILES ${PROJECT_SOURCE_DIR}/stations/icinga2/quorvane-services.conf
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/monitoring-plugins-quorvane/examples)
        install(FILES ${CMAKE_CURRENT_LIST_DIR}/linux/check_quorvane.8
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
    endif()
    # The exporter under the name Debian gives its Prometheus exporters, with its unit.
    if(TARGET quorvane-exporter)
        install(PROGRAMS $<TARGET_FILE:quorvane-exporter> DESTINATION ${CMAKE_INSTALL_BINDIR}
            RENAME prometheus-quorvane-exporter)
        configure_file(${CMAKE_CURRENT_LIST_DIR}/linux/prometheus-quorvane-exporter.service.in
            ${CMAKE_CURRENT_BINARY_DIR}/generated/prometheus-quorvane-exporter.service @ONLY)
        install(FILES ${CMAKE_CURRENT_BINARY_DIR}/generated/prometheus-quorvane-exporter.service
            DESTINATION ${QUORVANE_SYSTEMD_UNIT_DIR})
        install(FILES ${CMAKE_CURRENT_LIST_DIR}/linux/prometheus-quorvane-exporter.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
endif()
