# SPDX-FileCopyrightText: 2026 The Server Stats authors
# SPDX-License-Identifier: MIT

# The protections every Debian package carries, for the optimised builds (the release presets,
# the Debian package and the Windows download). Debug builds go without: _FORTIFY_SOURCE needs
# optimisation, and the sanitizers do the checking there.
#
# Stated here rather than taken from dpkg-buildflags: Debian 12's dpkg-buildflags knows neither
# stack clash nor control-flow protection, and the Windows cross-build has no dpkg at all.
# -U first, so that a packager's own -D_FORTIFY_SOURCE does not clash with ours.
option(SERVERSTATS_HARDENING "Build optimised builds with the usual exploit mitigations" ON)
if(NOT SERVERSTATS_HARDENING OR SERVERSTATS_SANITIZE)
  return()
endif()

set(optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
set(fortify -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
if(WIN32)
  # MinGW-w64's equivalents: the stack protector's run time is libssp; ASLR and DEP are the
  # image's DllCharacteristics, which these linker switches set.
  add_compile_options("$<${optimised}:${fortify};-fstack-protector-strong>")
  add_link_options("$<${optimised}:-fstack-protector-strong;-lssp;LINKER:--dynamicbase,--nxcompat>")
else()
  # Stack clash and control-flow protection exist on some processors only (the latter on x86).
  include(CheckCXXCompilerFlag)
  set(protections ${fortify} -fstack-protector-strong)
  foreach(flag -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "SERVERSTATS_HAS${flag}" supported)
    check_cxx_compiler_flag(${flag} ${supported})
    if(${supported})
      list(APPEND protections ${flag})
    endif()
  endforeach()
  add_compile_options("$<${optimised}:${protections}>")
  add_link_options("$<${optimised}:LINKER:-z,relro,-z,now>")
  # Position-independent executables, so that the program's own code moves with ASLR too.
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
endif()
