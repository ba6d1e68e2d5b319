# Packages made by `cpack` from a Release build: a Debian package and a .tar.gz on Linux, an
# installer package (productbuild) and a .tar.gz on macOS. Included last, after every
# install() rule. The package's own files (copyright, macOS installer texts) are made here.

set(BRT_PACKAGE_MAINTAINER "brtconfig maintainers <maintainers@users.noreply.c-seed-a5946e4e.example>"
    CACHE STRING "Maintainer named in the packages (name <address>)")
# The licence's SPDX name, as the packages' copyright file states it; LICENSE holds its text.
set(BRT_PACKAGE_LICENSE Apache-2.0)

set(CPACK_PACKAGE_NAME brtconfig)
set(CPACK_PACKAGE_VENDOR "brtconfig maintainers")
set(CPACK_PACKAGE_CONTACT "${BRT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "change one setting of the classroom-management suite's preference files")
set(CPACK_PACKAGE_DESCRIPTION
    "brtconfig reads or changes one named setting at a time in the property-list preference
files of the Teacher console, the tech console and the student agent. Run as root it
handles the system-wide settings; run as the teacher, the teacher's own. Every change is
checked against a fixed catalogue of settings before any file is touched, and files are
replaced atomically. Released under the Apache License 2.0.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY brtconfig)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

# /usr/share/doc/brtconfig/copyright, where Debian keeps a package's licence; the macOS
# installer shows the licence's whole text, from a copy with the .txt ending it expects.
set(BRT_COPYRIGHT_FILE ${PROJECT_BINARY_DIR}/packaging/copyright)
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${BRT_COPYRIGHT_FILE} @ONLY)
install(FILES ${BRT_COPYRIGHT_FILE} DESTINATION ${CMAKE_INSTALL_DOCDIR})
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/packaging/licence.txt COPYONLY)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/packaging/licence.txt)
configure_file(${PROJECT_SOURCE_DIR}/packaging/macos-readme.txt
               ${PROJECT_BINARY_DIR}/packaging/readme.txt @ONLY)
set(CPACK_RESOURCE_FILE_README ${PROJECT_BINARY_DIR}/packaging/readme.txt)

if(APPLE)
  set(CPACK_GENERATOR productbuild TGZ)
  set(CPACK_PRODUCTBUILD_IDENTIFIER "brtconfig.pkg")
  set(CPACK_SYSTEM_NAME macos)
  if(CMAKE_OSX_ARCHITECTURES MATCHES "arm64" AND CMAKE_OSX_ARCHITECTURES MATCHES "x86_64")
    set(CPACK_SYSTEM_NAME macos-universal)
  endif()
else()
  set(CPACK_GENERATOR TGZ)
  find_program(BRT_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(BRT_DPKG_SHLIBDEPS)
    list(PREPEND CPACK_GENERATOR DEB)
  else()
    message(STATUS "dpkg-shlibdeps not found: cpack makes the .tar.gz only")
  endif()
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The libraries the program links (libc, utf8proc) come from dpkg-shlibdeps; the C++
  # runtime is linked in. killall stops the student daemon after a student setting.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "psmisc")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
endif()

# Each generator installs under its own prefix: /usr for the Debian package, /usr/local on
# macOS (/usr is the system's there); the .tar.gz holds bin/, share/ ... at its top.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/generator_prefix.cmake)
include(CPack)
