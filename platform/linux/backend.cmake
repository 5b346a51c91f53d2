# The Linux backend: HID through hidapi's hidraw backend (linked dynamically);
# the desktop through Xlib and XTest in an X session, or through a uinput
# virtual pointer (with the monitor layout from the compositor, through
# libwayland-client) in a Wayland session.
find_package(PkgConfig REQUIRED)
pkg_check_modules(HIDAPI_HIDRAW REQUIRED IMPORTED_TARGET hidapi-hidraw)
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
find_program(WAYLAND_SCANNER wayland-scanner)
if(NOT WAYLAND_PROTOCOLS_DIR OR NOT WAYLAND_SCANNER)
  message(FATAL_ERROR "wayland-protocols or wayland-scanner (libwayland-dev) is missing")
endif()
find_package(X11 REQUIRED)
if(NOT X11_Xtst_FOUND)
  message(FATAL_ERROR "the XTest library (libxtst-dev) is missing")
endif()

# The client side of xdg-output, made from the protocol's description.
enable_language(C)
set(XDG_OUTPUT_XML ${WAYLAND_PROTOCOLS_DIR}/unstable/xdg-output/xdg-output-unstable-v1.xml)
set(XDG_OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
add_custom_command(
  OUTPUT ${XDG_OUTPUT_DIR}/xdg-output-unstable-v1-client-protocol.h
         ${XDG_OUTPUT_DIR}/xdg-output-unstable-v1-protocol.c
  COMMAND ${CMAKE_COMMAND} -E make_directory ${XDG_OUTPUT_DIR}
  COMMAND ${WAYLAND_SCANNER} client-header ${XDG_OUTPUT_XML}
          ${XDG_OUTPUT_DIR}/xdg-output-unstable-v1-client-protocol.h
  COMMAND ${WAYLAND_SCANNER} private-code ${XDG_OUTPUT_XML}
          ${XDG_OUTPUT_DIR}/xdg-output-unstable-v1-protocol.c
  DEPENDS ${XDG_OUTPUT_XML}
  COMMENT "wayland-scanner: xdg-output client code")

# Everything but the HID access, which the benchmarks replace by their own.
add_library(trevanquill_desktop STATIC
  ${CMAKE_CURRENT_LIST_DIR}/compositor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console.cpp
  ${CMAKE_CURRENT_LIST_DIR}/desktop_choice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/desktop_uinput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/desktop_x11.cpp
  ${CMAKE_CURRENT_LIST_DIR}/system.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wait_watch.cpp
  ${XDG_OUTPUT_DIR}/xdg-output-unstable-v1-protocol.c
  ${XDG_OUTPUT_DIR}/xdg-output-unstable-v1-client-protocol.h)
target_include_directories(trevanquill_desktop PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(trevanquill_desktop PRIVATE ${XDG_OUTPUT_DIR})
target_link_libraries(trevanquill_desktop PUBLIC
  PkgConfig::WAYLAND_CLIENT X11::X11 X11::Xtst Threads::Threads)

add_library(trevanquill_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/grab.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hid.cpp)
target_link_libraries(trevanquill_platform PUBLIC trevanquill_desktop PkgConfig::HIDAPI_HIDRAW)

# Lets the user logged in at the seat open the remote's hidraw node and, for
# a Wayland session, /dev/uinput, so that the tool runs without root.
# cmake --install puts the rules in /etc/udev/rules.d (the administrator's);
# the package in /usr/lib/udev/rules.d (a relative directory is under the
# prefix /usr). Every udev rules file of the tool is in this list.
set(TREVANQUILL_UDEV_RULES ${CMAKE_CURRENT_LIST_DIR}/60-trevanquill-uinput.rules
  ${CMAKE_CURRENT_LIST_DIR}/70-trevanquill.rules)
# (A STRING, not a PATH: CMake would make a relative PATH absolute.)
set(TREVANQUILL_UDEV_RULES_DIR "/etc/udev/rules.d" CACHE STRING
  "Where cmake --install puts the udev rules")
install(FILES ${TREVANQUILL_UDEV_RULES} DESTINATION ${TREVANQUILL_UDEV_RULES_DIR})
# The uinput module, loaded at boot for a Wayland session's virtual pointer:
# /etc/modules-load.d for cmake --install, /usr/lib/modules-load.d for the
# package.
set(TREVANQUILL_MODULES_LOAD_DIR "/etc/modules-load.d" CACHE STRING
  "Where cmake --install puts the list of kernel modules to load at boot")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/trevanquill.conf
  DESTINATION ${TREVANQUILL_MODULES_LOAD_DIR})
