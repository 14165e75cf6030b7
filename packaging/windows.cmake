# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT

# The Windows download, made by CPack in the windows build: serverstats-<version>-win32.zip
# (one folder) and serverstats-<version>-win32-setup.exe (NSIS: Program Files, a Start-menu
# entry, an uninstaller in Add/Remove Programs). Both hold the program, the Qt and MinGW
# run-time libraries beside it, Read.me and the licences; the stand-in client libraries of
# the tests have no install rule, so they stay in the build tree.

install(TARGETS ServerStats RUNTIME DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
        DESTINATION .)
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)

# GCC's run-time libraries (libssp for the stack protector) and winpthreads, from where the
# cross compiler itself finds them.
foreach(dll libgcc_s_dw2-1.dll libstdc++-6.dll libssp-0.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  if(NOT IS_ABSOLUTE "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
  endif()
  install(FILES ${path} DESTINATION .)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/Read.me DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

# The licences of what we ship beside the program, from the Debian packages that the build
# used: the texts as those packages carry them, and a note on where Qt's source is. An excerpt
# runs from its first marker up to, not including, the second.
set(licenses ${CMAKE_CURRENT_BINARY_DIR}/licenses)
function(serverstats_excerpt out file begin end)
  file(READ ${file} text)
  string(FIND "${text}" "${begin}" first)
  if(first GREATER_EQUAL 0)
    string(SUBSTRING "${text}" ${first} -1 text)
    string(FIND "${text}" "${end}" last)
  endif()
  if(first LESS 0 OR last LESS 0)
    message(FATAL_ERROR "${file} no longer holds \"${begin}\" ... \"${end}\"")
  endif()
  string(SUBSTRING "${text}" 0 ${last} excerpt)
  set(${out} "${excerpt}" PARENT_SCOPE)
endfunction()

configure_file(/usr/share/common-licenses/LGPL-3 ${licenses}/LGPL-3.0.txt COPYONLY)
configure_file(/usr/share/common-licenses/GPL-3 ${licenses}/GPL-3.0.txt COPYONLY)
configure_file(/usr/share/doc/libqt6core6/copyright ${licenses}/Qt-copyright.txt COPYONLY)
set(qt_source "qt6-base 6.4.2+dfsg-10" CACHE STRING "The Debian source package the Qt for Windows was built from")
file(WRITE ${licenses}/Qt.txt
"Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms/qwindows.dll and
styles/qwindowsvistastyle.dll are Qt ${Qt6_VERSION} (qtbase), used under the GNU Lesser
General Public License version 3 (LGPL-3.0.txt, which builds on GPL-3.0.txt).
Their copyright holders, and the licences of the code Qt bundles (zlib, libpng,
libjpeg, FreeType, HarfBuzz, PCRE2, md4c and others), are in Qt-copyright.txt.

They were built for 32-bit Windows with MinGW-w64 from Debian's source package
${qt_source} (Debian 12 \"bookworm\"; apt-get source qt6-base, or
https://snapshot.debian.org/package/qt6-base/): Qt's qtbase-everywhere-src-6.4.2
(https://download.qt.io/archive/qt/6.4/6.4.2/) less a few files Debian leaves out.
The recipe is scripts/build-qt-windows in Server Stats' source, with
cmake/mingw-w64-i686.cmake as the cross-compiling toolchain.

The program loads these libraries at run time: you may replace them with your own
build of Qt ${Qt6_VERSION} for the same compiler.
")
serverstats_excerpt(exception /usr/share/doc/gcc-mingw-w64-base/copyright
  "GCC RUNTIME LIBRARY EXCEPTION" "\n\n\nlibquadmath")
file(WRITE ${licenses}/GCC-runtime-library-exception.txt
"libgcc_s_dw2-1.dll, libstdc++-6.dll and libssp-0.dll are GCC's run-time
libraries: free software under the GNU General Public License version 3 or later
(GPL-3.0.txt) with the GCC Runtime Library Exception, version 3.1, below.
Copyright (C) the Free Software Foundation, Inc.


${exception}
")
set(mingw /usr/share/doc/mingw-w64-i686-dev/copyright)
serverstats_excerpt(files ${mingw} "Files: mingw-w64-libraries/winpthreads/*"
  "Files: mingw-w64-libraries/winpthreads/tests_pthread/*")
serverstats_excerpt(expat ${mingw} "License: expat\n Permission" "\n\n")
serverstats_excerpt(bsd ${mingw} "License: BSD-3-clause\n " "\n\n")
file(WRITE ${licenses}/winpthreads.txt
"libwinpthread-1.dll is MinGW-w64's winpthreads. Its files, their copyright holders
and licences, as Debian's mingw-w64 package lists them:

${files}${expat}

${bsd}
")
install(DIRECTORY ${licenses}/ DESTINATION licenses)

# The run-time libraries come with their symbols; without them the download is half the size.
install(CODE "
  file(GLOB_RECURSE dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/*.dll\")
  execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \${dlls} COMMAND_ERROR_IS_FATAL ANY)")

set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_PACKAGE_FILE_NAME serverstats-${PROJECT_VERSION}-win32)
# The installer's name ends in -setup (set for that generator only).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/windows-generators.cmake)
set(CPACK_PACKAGE_VENDOR "The Server Stats authors")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Server Stats")
set(CPACK_PACKAGE_EXECUTABLES ServerStats "Server Stats")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_PACKAGE_NAME "Server Stats")
set(CPACK_NSIS_DISPLAY_NAME "Server Stats ${PROJECT_VERSION}")
# The program's icon (packaging/windows-icon.cmake): in ServerStats.exe, which the Start-menu
# entry starts and Add/Remove Programs names as the entry's icon, and on the installer and
# the uninstaller themselves.
set(CPACK_NSIS_INSTALLED_ICON_NAME ServerStats.exe)
set(CPACK_NSIS_MUI_ICON ${PROJECT_BINARY_DIR}/main/ServerStats.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_BINARY_DIR}/main/ServerStats.ico)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
