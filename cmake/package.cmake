# The Debian package, built by CPack from the install rules (scripts/package.sh
# configures a Release build with the udev rules under /usr/lib/udev/rules.d
# and runs cpack -G DEB): the tool, its manual page, the udev rules, the
# README, the copyright file and the changelog, with Depends computed from the
# binary. cmake --install installs the same files under its prefix.
set(TREVANQUILL_DOC_DIR share/doc/trevanquill)
set(TREVANQUILL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# The changelog and the manual page, compressed as Debian keeps them (gzip
# -9, without a time stamp).
set(TREVANQUILL_GZIPPED)
foreach(source ${TREVANQUILL_PACKAGING_DIR}/deb/changelog
               ${TREVANQUILL_PACKAGING_DIR}/trevanquill.1)
  get_filename_component(name ${source} NAME)
  set(gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
    COMMAND gzip -9nc ${source} > ${gz}
    DEPENDS ${source})
  list(APPEND TREVANQUILL_GZIPPED ${gz})
endforeach()
add_custom_target(trevanquill_gzipped_docs ALL DEPENDS ${TREVANQUILL_GZIPPED})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${TREVANQUILL_PACKAGING_DIR}/deb/copyright
  ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${TREVANQUILL_DOC_DIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/trevanquill.1.gz
  DESTINATION share/man/man1)

# The user service that starts the tool when a remote connects (opted into
# with systemctl --user enable trevanquill.service): its two units, their
# notification helper, and the udev rule that makes the remote a device unit
# of systemd's. The units name the installed paths of the tool and the
# helper; user units go to lib/systemd/user under the prefix, which the
# user manager reads for /usr and /usr/local alike.
set(TREVANQUILL_SERVICE_DIR ${TREVANQUILL_PACKAGING_DIR}/service)
set(TREVANQUILL_SERVICE_BIN ${CMAKE_INSTALL_PREFIX}/bin)
set(TREVANQUILL_SERVICE_LIBEXEC ${CMAKE_INSTALL_PREFIX}/libexec/trevanquill)
set(TREVANQUILL_SYSTEMCTL /usr/bin/systemctl)
foreach(unit trevanquill.service trevanquill-session.service)
  configure_file(${TREVANQUILL_SERVICE_DIR}/${unit}.in
    ${CMAKE_CURRENT_BINARY_DIR}/packaging/${unit} @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/${unit} DESTINATION lib/systemd/user)
endforeach()
install(PROGRAMS ${TREVANQUILL_SERVICE_DIR}/notify DESTINATION libexec/trevanquill)
install(FILES ${TREVANQUILL_SERVICE_DIR}/71-trevanquill-service.rules
  DESTINATION ${TREVANQUILL_UDEV_RULES_DIR})

# After install and after removal udev reads its rules again and applies them
# to the hidraw nodes: one script, made twice.
foreach(script postinst postrm)
  set(SCRIPT ${script})
  configure_file(${TREVANQUILL_PACKAGING_DIR}/deb/udev-reload.in
    ${CMAKE_CURRENT_BINARY_DIR}/debian/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                     WORLD_READ WORLD_EXECUTE)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trevanquill)
include(${CMAKE_CURRENT_LIST_DIR}/version.cmake)
set(CPACK_PACKAGE_VERSION ${TREVANQUILL_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "trevanquill developers <developers@trevanquill.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drive the desktop mouse with a Wii Remote")
# The extended description; CPack puts the summary in front as its first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "trevanquill is a console tool that turns a Wii Remote, connected over
Bluetooth as a HID device, into the mouse of an X11 or Wayland session:
the cursor follows where the remote points at a sensor bar's two infrared
lights, the D-pad moves it too, B and A click, and the other buttons turn
the wheel. Home on the remote or Esc in the console ends it.
.
The package's udev rules let the user logged in at the seat open the
remote's hidraw node and, for a Wayland session, /dev/uinput, so that the
tool runs without root; the uinput module is loaded at boot.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/debian/postinst ${CMAKE_CURRENT_BINARY_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
