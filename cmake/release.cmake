# What a release is made of: the version, the stripped program with its
# symbols in a file beside it, and the archive for Windows users.

# The About box's "Vexalune Version X" line is the one place the version is
# written; the archive's name is read from it, and configuring again follows
# an edit of the resource script.
set(VEXALUNE_VERSION_SOURCE ${CMAKE_SOURCE_DIR}/res/vexalune.rc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VEXALUNE_VERSION_SOURCE})
file(STRINGS ${VEXALUNE_VERSION_SOURCE} _vexalune_version_lines REGEX "\"Vexalune Version [0-9]+(\\.[0-9]+)*\"")
list(LENGTH _vexalune_version_lines _vexalune_version_count)
if(NOT _vexalune_version_count EQUAL 1)
  message(FATAL_ERROR "res/vexalune.rc: expected one \"Vexalune Version N.N\" line, found ${_vexalune_version_count}")
endif()
string(REGEX MATCH "Vexalune Version ([0-9]+(\\.[0-9]+)*)" _ "${_vexalune_version_lines}")
# Cached so that scripts/package.sh can name the archive it made.
set(VEXALUNE_VERSION ${CMAKE_MATCH_1} CACHE INTERNAL "The program's version, from the About box")

# vexalune_split_debug_info(TARGET)
# Moves the symbols and debug sections of TARGET's executable into
# <exe>.debug beside it and strips the executable, which then names that
# file (with its CRC) in a .gnu_debuglink section: gdb finds the symbols
# there, and `addr2line -e <exe>.debug ADDRESS` resolves a crash address.
function(vexalune_split_debug_info target)
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "no objcopy for ${CMAKE_CXX_COMPILER}")
  endif()
  set(exe $<TARGET_FILE:${target}>)
  # objcopy writes the current time into the PE header of what it makes,
  # unless SOURCE_DATE_EPOCH gives one: 0, as the linker leaves it.
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${objcopy} --only-keep-debug ${exe} ${exe}.debug
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${exe}.debug ${exe}
    BYPRODUCTS ${CMAKE_CURRENT_BINARY_DIR}/${target}${CMAKE_EXECUTABLE_SUFFIX}.debug
    COMMENT "Stripping ${target}; symbols in ${target}.exe.debug"
    VERBATIM)
endfunction()

# vexalune_windows_archive(TARGET)
# The `package` target: Vexalune-<version>-win32.zip in the build tree,
# holding TARGET's (stripped) executable and a text for Windows users. It is
# also part of the default build, so that the tests find it beside the exe.
function(vexalune_windows_archive target)
  find_program(VEXALUNE_PACKAGE_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  set(archive ${CMAKE_BINARY_DIR}/Vexalune-${VEXALUNE_VERSION}-win32.zip)
  set(readme ${CMAKE_SOURCE_DIR}/docs/windows-readme.txt)
  add_custom_command(OUTPUT ${archive}
    COMMAND ${VEXALUNE_PACKAGE_PYTHON} -B ${CMAKE_SOURCE_DIR}/cmake/make_archive.py
            --output ${archive} --version ${VEXALUNE_VERSION}
            --exe $<TARGET_FILE:${target}> --readme ${readme}
    DEPENDS ${target} ${readme} ${CMAKE_SOURCE_DIR}/cmake/make_archive.py
    COMMENT "Packing Vexalune-${VEXALUNE_VERSION}-win32.zip"
    VERBATIM)
  add_custom_target(package ALL DEPENDS ${archive})
  set(VEXALUNE_ARCHIVE ${archive} PARENT_SCOPE)
endfunction()
