# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT

# The program's icon for Explorer, the taskbar, the Start-menu entry and Add/Remove Programs,
# which read it from the executable's resources, not from Qt: an .ico of the drawn sizes, made
# at build time by icoutils' icotool (the 256-pixel size kept as PNG, as Windows expects), in a
# resource that MinGW's windres compiles in. Included by main/ in the Windows build only.
find_program(ICOTOOL icotool REQUIRED)
set(icons ${PROJECT_SOURCE_DIR}/packaging/icons)
set(SERVERSTATS_ICO ${CMAKE_CURRENT_BINARY_DIR}/ServerStats.ico)
add_custom_command(OUTPUT ${SERVERSTATS_ICO}
  COMMAND ${ICOTOOL} --create --output=${SERVERSTATS_ICO}
          ${icons}/16.png ${icons}/32.png ${icons}/48.png --raw=${icons}/256.png
  DEPENDS ${icons}/16.png ${icons}/32.png ${icons}/48.png ${icons}/256.png
  COMMENT "Making ServerStats.ico")
set(rc ${CMAKE_CURRENT_BINARY_DIR}/ServerStats.rc)
# The first icon group of an executable is the one Windows shows for it.
file(CONFIGURE OUTPUT ${rc} CONTENT "1 ICON \"${SERVERSTATS_ICO}\"\n")
set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${SERVERSTATS_ICO})
target_sources(ServerStats PRIVATE ${rc} ${SERVERSTATS_ICO})
