# Install layout of a device besides the program and the library: the example configuration in
# the configuration directory and the systemd units (service and socket) that start the compositor.

set(VORLANE_CONFIG_DIR "/etc/vorlane" CACHE PATH
    "Directory of the installed settings file, layouts/ and clients/")
set(VORLANE_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE PATH
    "Directory of the installed systemd unit (relative paths are taken from the install prefix)")
option(VORLANE_INSTALL_EXAMPLES "Install the example configuration into VORLANE_CONFIG_DIR" ON)
option(VORLANE_INSTALL_SYSTEMD_UNIT "Install the systemd unit" ON)

set(_vorlane_examples "${PROJECT_SOURCE_DIR}/examples")
set(_vorlane_staged "${PROJECT_BINARY_DIR}/install-staged")

if(VORLANE_INSTALL_EXAMPLES)
    file(GLOB _vorlane_layouts CONFIGURE_DEPENDS "${_vorlane_examples}/layouts/*.json")
    file(GLOB _vorlane_clients CONFIGURE_DEPENDS "${_vorlane_examples}/clients/*.desktop")
    file(GLOB _vorlane_qml CONFIGURE_DEPENDS "${_vorlane_examples}/qml/*.qml")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
        "${_vorlane_examples}/config.ini" ${_vorlane_clients})

    # The settings file in the source tree names its directories relative to examples/; the
    # installed one must work from any working directory, so it gets absolute paths.
    file(READ "${_vorlane_examples}/config.ini" _content)
    string(REGEX REPLACE "\nLayoutsDir=[^\n]*" "\nLayoutsDir=${VORLANE_CONFIG_DIR}/layouts"
        _content "${_content}")
    string(REGEX REPLACE "\nClientsDir=[^\n]*" "\nClientsDir=${VORLANE_CONFIG_DIR}/clients"
        _content "${_content}")
    string(REPLACE "/etc/vorlane" "${VORLANE_CONFIG_DIR}" _content "${_content}")
    file(CONFIGURE OUTPUT "${_vorlane_staged}/config.ini" CONTENT "${_content}" @ONLY)
    install(FILES "${_vorlane_staged}/config.ini" DESTINATION "${VORLANE_CONFIG_DIR}")

    install(FILES ${_vorlane_layouts} DESTINATION "${VORLANE_CONFIG_DIR}/layouts")
    install(FILES ${_vorlane_qml} DESTINATION "${VORLANE_CONFIG_DIR}/qml")

    # Desktop entries may point at files of the configuration directory (a QML file, an icon).
    foreach(_entry IN LISTS _vorlane_clients)
        get_filename_component(_name "${_entry}" NAME)
        file(READ "${_entry}" _content)
        string(REPLACE "/etc/vorlane" "${VORLANE_CONFIG_DIR}" _content "${_content}")
        file(CONFIGURE OUTPUT "${_vorlane_staged}/clients/${_name}" CONTENT "${_content}" @ONLY)
        install(FILES "${_vorlane_staged}/clients/${_name}"
                DESTINATION "${VORLANE_CONFIG_DIR}/clients")
    endforeach()
endif()

if(VORLANE_INSTALL_SYSTEMD_UNIT)
    # The unit names the program by its installed path, which is known only at install time
    # (cmake --install --prefix may differ from the configured prefix).
    if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
        set(_bindir "${CMAKE_INSTALL_BINDIR}")
    else()
        set(_bindir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}")
    endif()
    install(CODE "
        set(VORLANE_BINDIR \"${_bindir}\")
        set(VORLANE_CONFIG_DIR \"${VORLANE_CONFIG_DIR}\")
        configure_file(\"${PROJECT_SOURCE_DIR}/dist/vorlane.service.in\"
                       \"${_vorlane_staged}/vorlane.service\" @ONLY)
    ")
    install(FILES "${_vorlane_staged}/vorlane.service" "${PROJECT_SOURCE_DIR}/dist/vorlane.socket"
            DESTINATION "${VORLANE_SYSTEMD_UNIT_DIR}")
endif()
