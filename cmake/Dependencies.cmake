# Third-party libraries, found once for the whole tree.
#
# Imported targets are global so that the reference list below sees the ones
# found in subfolders too (GTest, Threads, benchmark, OpenCV).
set(CMAKE_FIND_PACKAGE_TARGETS_GLOBAL ON)
#
# OpenImageIO is found through its pkg-config file rather than its CMake
# package: Debian's CMake package declares imported targets for the
# command-line tools (openimageio-tools) and an include directory that only
# OpenCV's development package creates, so configuring with it would drag in
# several hundred megabytes that nothing here uses.
if(WIN32)
  # The Windows build takes Highway's headers from the Linux package: they
  # are the same for every system, and the effects use no Highway library
  # (simd/ picks the vector path itself). They are copied into the build
  # folder, as adding /usr/include would hide MinGW's own C headers.
  set(QFX_HWY_HEADERS "/usr/include/hwy" CACHE PATH
      "Google Highway's header folder (Debian's libhwy-dev)")
  if(NOT EXISTS "${QFX_HWY_HEADERS}/highway.h")
    message(FATAL_ERROR "Highway's headers are missing at ${QFX_HWY_HEADERS}; "
                        "run `make deps-windows`")
  endif()
  file(COPY "${QFX_HWY_HEADERS}" DESTINATION "${CMAKE_BINARY_DIR}/hwy-include")
  add_library(hwy::hwy INTERFACE IMPORTED GLOBAL)
  set_target_properties(hwy::hwy PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_BINARY_DIR}/hwy-include")
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(OpenImageIO REQUIRED IMPORTED_TARGET GLOBAL OpenImageIO Imath)
if(NOT TARGET OpenImageIO::OpenImageIO)
  add_library(OpenImageIO::OpenImageIO ALIAS PkgConfig::OpenImageIO)
endif()

find_package(CLI11 CONFIG REQUIRED)
find_package(nlohmann_json REQUIRED)
# Google Highway: the vector loops of both effects. Debian ships its CMake
# package (and only the shared library).
find_package(hwy CONFIG REQUIRED)

# Writes every file and folder that the configured build takes from outside
# the source tree (imported targets' files and include directories, the
# package files that declared them, and the programs the tests run) to
# build-references.txt, so that a test can check each one comes from a
# package `make deps` installs.
function(qfx_write_build_references)
  set(dirs "${CMAKE_SOURCE_DIR}")
  set(targets)
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(sub DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
    get_property(imported DIRECTORY "${dir}" PROPERTY IMPORTED_TARGETS)
    list(APPEND dirs ${sub})
    list(APPEND targets ${imported})
  endwhile()
  list(REMOVE_DUPLICATES targets)

  set(lines)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      set(props INTERFACE_INCLUDE_DIRECTORIES INTERFACE_LINK_LIBRARIES)
    else()
      set(props IMPORTED_LOCATION INTERFACE_INCLUDE_DIRECTORIES
          INTERFACE_LINK_LIBRARIES)
      get_target_property(configs ${target} IMPORTED_CONFIGURATIONS)
      foreach(config IN LISTS configs)
        if(config)
          list(APPEND props IMPORTED_LOCATION_${config})
        endif()
      endforeach()
    endif()
    foreach(prop IN LISTS props)
      get_target_property(values ${target} ${prop})
      if(NOT values)
        continue()
      endif()
      foreach(value IN LISTS values)
        # Only plain absolute paths name files; generator expressions and
        # other targets are followed through their own entries.
        if(value MATCHES "^/" AND NOT value MATCHES "[$<>]")
          list(APPEND lines "${target}\t${value}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  get_cmake_property(cache_vars CACHE_VARIABLES)
  foreach(var IN LISTS cache_vars)
    if(var MATCHES "_DIR$" AND NOT var MATCHES "^(CMAKE|QFX|OFX)_")
      get_property(value CACHE ${var} PROPERTY VALUE)
      string(FIND "${value}" "${CMAKE_SOURCE_DIR}" in_tree)
      if(value MATCHES "^/" AND NOT value MATCHES "NOTFOUND" AND in_tree EQUAL -1)
        list(APPEND lines "${var}\t${value}")
      endif()
    endif()
  endforeach()
  foreach(pc IN ITEMS OpenImageIO Imath)
    pkg_get_variable(pcdir ${pc} pcfiledir)
    if(pcdir)
      list(APPEND lines "pkg-config ${pc}\t${pcdir}/${pc}.pc")
    endif()
  endforeach()
  # Programs the tests and `make package` run, which no find_package names:
  # file and dpkg-shlibdeps for CPack's .deb, nm for the export check.
  foreach(program IN ITEMS file dpkg-shlibdeps nm)
    find_program(QFX_TOOL_${program} ${program})
    if(QFX_TOOL_${program})
      list(APPEND lines "program ${program}\t${QFX_TOOL_${program}}")
    else()
      list(APPEND lines "program ${program}\t/usr/bin/${program}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES lines)
  list(JOIN lines "\n" text)
  file(WRITE "${CMAKE_BINARY_DIR}/build-references.txt" "${text}\n")
endfunction()
