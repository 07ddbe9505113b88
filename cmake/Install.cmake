# Where `cmake --install` puts Tarvi, and how CPack makes a Debian package of it.
#
# CPack also runs this file as its pre-build script, in the staging tree of the
# package: the Debian-only touches (compressed manual pages, copyright,
# changelog) are made there, so that a plain install stays a plain install.
if(DEFINED CPACK_TEMPORARY_DIRECTORY)
  set(stage "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
  set(man1 "${stage}/share/man/man1")
  set(doc "${stage}/share/doc/${CPACK_PACKAGE_NAME}")
  string(REGEX MATCH "[0-9]+$" year "${CPACK_TARVI_RELEASE_DATE}")

  execute_process(COMMAND gzip -9n "${man1}/tarvi.1" COMMAND_ERROR_IS_FATAL ANY)
  if(EXISTS "${man1}/indi_tarvi_st4.1")
    execute_process(COMMAND gzip -9n "${man1}/indi_tarvi_st4.1" COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE "${man1}/tarvi-sim.1")
  file(CREATE_LINK tarvi.1.gz "${man1}/tarvi-sim.1.gz" SYMBOLIC)

  # In Debian's machine-readable form, pointing at the licence the system keeps.
  file(WRITE "${doc}/copyright"
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: Tarvi\n"
    "\n"
    "Files: *\n"
    "Copyright: ${year} ${CPACK_PACKAGE_VENDOR}\n"
    "License: GPL-3+\n"
    "\n"
    "License: GPL-3+\n"
    " This program is free software: you can redistribute it and/or modify\n"
    " it under the terms of the GNU General Public License as published by\n"
    " the Free Software Foundation, either version 3 of the License, or\n"
    " (at your option) any later version.\n"
    " .\n"
    " This program is distributed in the hope that it will be useful,\n"
    " but WITHOUT ANY WARRANTY; without even the implied warranty of\n"
    " MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE.  See the\n"
    " GNU General Public License for more details.\n"
    " .\n"
    " On Debian systems, the complete text of the GNU General Public License\n"
    " version 3 can be found in /usr/share/common-licenses/GPL-3.\n")

  execute_process(COMMAND date -u -R -d "${CPACK_TARVI_RELEASE_DATE}"
    OUTPUT_VARIABLE released OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  file(WRITE "${doc}/changelog"
    "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n"
    "\n"
    "  * Release ${CPACK_PACKAGE_VERSION}.\n"
    "\n"
    " -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${released}\n")
  execute_process(COMMAND gzip -9n "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)
  return()
endif()

include(GNUInstallDirs)

set(TARVI_APP_ID org.tarvi.Tarvi)
set(linux_sources ${PROJECT_SOURCE_DIR}/resources/linux)
set(linux_generated ${PROJECT_BINARY_DIR}/generated/linux)

# AppStream wants the release date as YYYY-MM-DD; the project keeps it for people.
string(REGEX MATCH "^([0-9]+) ([A-Za-z]+) ([0-9]+)$" matched "${TARVI_RELEASE_DATE}")
if(NOT matched)
  message(FATAL_ERROR "TARVI_RELEASE_DATE '${TARVI_RELEASE_DATE}' is not like '6 December 2026'")
endif()
set(months January February March April May June July August September October November December)
list(FIND months "${CMAKE_MATCH_2}" month)
if(month LESS 0)
  message(FATAL_ERROR "TARVI_RELEASE_DATE '${TARVI_RELEASE_DATE}' names no month")
endif()
math(EXPR month "${month} + 1")
string(LENGTH "${CMAKE_MATCH_1}" day_digits)
set(day "${CMAKE_MATCH_1}")
if(day_digits EQUAL 1)
  set(day "0${day}")
endif()
if(month LESS 10)
  set(month "0${month}")
endif()
set(TARVI_RELEASE_DATE_ISO "${CMAKE_MATCH_3}-${month}-${day}")

install(TARGETS tarvi-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The desktop program: its entry, metadata, icons and manual page.
if(TARVI_GUI)
  configure_file(${linux_sources}/${TARVI_APP_ID}.metainfo.xml.in
    ${linux_generated}/${TARVI_APP_ID}.metainfo.xml @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/man/tarvi.1 ${linux_generated}/tarvi.1 @ONLY)

  # The 256 px icon is drawn from the SVG, so the two cannot differ.
  find_program(TARVI_RSVG_CONVERT rsvg-convert)
  if(NOT TARVI_RSVG_CONVERT)
    message(FATAL_ERROR "rsvg-convert (Debian package librsvg2-bin) draws Tarvi's icon; scripts/setup installs it")
  endif()
  add_custom_command(
    OUTPUT ${linux_generated}/${TARVI_APP_ID}.png
    COMMAND ${TARVI_RSVG_CONVERT} --width 256 --height 256
            --output ${linux_generated}/${TARVI_APP_ID}.png ${linux_sources}/${TARVI_APP_ID}.svg
    DEPENDS ${linux_sources}/${TARVI_APP_ID}.svg
    COMMENT "Drawing the 256 px icon"
    VERBATIM)
  add_custom_target(tarvi_icon ALL DEPENDS ${linux_generated}/${TARVI_APP_ID}.png)

  install(TARGETS tarvi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${linux_sources}/${TARVI_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${linux_generated}/${TARVI_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${linux_sources}/${TARVI_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${linux_generated}/${TARVI_APP_ID}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
  install(FILES ${linux_generated}/tarvi.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # tarvi(1) tells of tarvi-sim in its SIMULATOR section.
  install(CODE "file(CREATE_LINK tarvi.1 \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1/tarvi-sim.1\" SYMBOLIC)")
endif()

# The INDI driver, and the file that names it to INDI clients.
if(TARVI_INDI)
  configure_file(${linux_sources}/indi_tarvi_st4.xml.in ${linux_generated}/indi_tarvi_st4.xml @ONLY)
  install(TARGETS indi_tarvi_st4 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${linux_generated}/indi_tarvi_st4.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/indi)
  configure_file(${PROJECT_SOURCE_DIR}/man/indi_tarvi_st4.1 ${linux_generated}/indi_tarvi_st4.1 @ONLY)
  install(FILES ${linux_generated}/indi_tarvi_st4.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(TARVI_PACKAGE_MAINTAINER "" CACHE STRING "Maintainer of the Debian package: Name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvi)
set(CPACK_PACKAGE_VENDOR "The Tarvi developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ST-4 camera and LX200 telescope control, BMP and FITS pictures")
set(CPACK_PACKAGE_DESCRIPTION
  "Tarvi is a program for the night at the telescope. It drives an ST-4 camera
on one serial port and an LX200 telescope on another, and it shows, stores
and converts the pictures the camera takes.

It takes single exposures, dark frames and runs of frames; steers the
telescope, its focuser and its go-to catalogs from a control sheet; opens,
saves and prints BMP and FITS pictures and converts them in batches, also
from the command line; and has night vision colour schemes. Serial devices,
network serial bridges and built-in simulated devices are supported.

The camera also serves INDI clients, for sequences and guiding, through
the INDI driver indi_tarvi_st4.")
set(CPACK_TARVI_RELEASE_DATE "${TARVI_RELEASE_DATE}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_FILE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARVI_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
