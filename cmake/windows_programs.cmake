# The two Windows programs, each from its edition's system library, the shared
# entry and the edition's own resources; and the checks of the built programs.
enable_language(RC)

set(SF_PROGRAM_vellmark Vellmark)
set(SF_PROGRAM_ossiter Ossiter)

foreach(ed IN LISTS SF_EDITIONS)
  set(program ${SF_PROGRAM_${ed}})
  add_executable(${program} WIN32
    ${CMAKE_SOURCE_DIR}/ui/program_entry.cpp
    ${CMAKE_SOURCE_DIR}/editions/${ed}/${ed}.rc)
  target_compile_options(${program} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${SF_WARNINGS} ${SF_CHARSET}>)
  # The resource script finds edition.h, the control rows and the icon in the
  # edition's folder, and the control ids from the source root.
  target_include_directories(${program} PRIVATE
    ${CMAKE_SOURCE_DIR}/editions/${ed} ${CMAKE_SOURCE_DIR})
  set_source_files_properties(${CMAKE_SOURCE_DIR}/editions/${ed}/${ed}.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/editions/${ed}/main_dialog.inc;${CMAKE_SOURCE_DIR}/editions/${ed}/edition.h;${CMAKE_SOURCE_DIR}/editions/${ed}/${ed}.ico;${CMAKE_SOURCE_DIR}/ui/control_ids.h")
  target_link_libraries(${program} PRIVATE system_${ed})
  # Nothing but the system's own DLLs at run time, and a subsystem version
  # that 32-bit Windows of every age accepts.
  target_link_options(${program} PRIVATE
    -mwindows -static-libgcc -static-libstdc++
    -Wl,--subsystem,windows:4.0
    -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0)
  set_target_properties(${program} PROPERTIES OUTPUT_NAME ${program})
endforeach()

# Reads another program's windows for the Wine tests.
add_executable(window_probe ${CMAKE_SOURCE_DIR}/tests/wine/window_probe.cpp)
target_compile_options(window_probe PRIVATE ${SF_WARNINGS})
target_link_options(window_probe PRIVATE -municode -static-libgcc -static-libstdc++)

# A build of the same sources for 64-bit Windows, for the Wine tests only: a
# machine that cannot start 32-bit Linux programs cannot run 32-bit Wine, but
# it can run 64-bit Wine.
if(SF_WINE64_VARIANT)
  return()
endif()
find_program(SF_MINGW64_CXX x86_64-w64-mingw32-g++)
set(SF_WINE64_DIR ${CMAKE_BINARY_DIR}/wine64)
if(SF_MINGW64_CXX)
  include(ExternalProject)
  ExternalProject_Add(wine64_variant
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${SF_WINE64_DIR}
    CMAKE_ARGS
      -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64
      -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc
      -DCMAKE_CXX_COMPILER=x86_64-w64-mingw32-g++
      -DCMAKE_RC_COMPILER=x86_64-w64-mingw32-windres
      -DCMAKE_FIND_ROOT_PATH=/usr/x86_64-w64-mingw32
      -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER
      -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY
      -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DSF_WINE64_VARIANT=ON
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
endif()

# ---------------------------------------------------------------- checks
enable_testing()
set(SF_PYTHON /usr/bin/python3)

add_test(NAME icons.up_to_date
  COMMAND ${SF_PYTHON} ${CMAKE_SOURCE_DIR}/tools/make_icons.py --check)

foreach(ed IN LISTS SF_EDITIONS)
  set(program ${SF_PROGRAM_${ed}})
  add_test(NAME pe.${program}
    COMMAND ${SF_PYTHON} ${CMAKE_SOURCE_DIR}/tests/pe/check_program.py
            ${ed} $<TARGET_FILE:${program}>)
  set_tests_properties(pe.${program} PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77 LABELS pe)
endforeach()


foreach(ed IN LISTS SF_EDITIONS)
  set(program ${SF_PROGRAM_${ed}})
  add_test(NAME wine.${program}
    COMMAND ${SF_PYTHON} ${CMAKE_SOURCE_DIR}/tests/wine/smoke_test.py ${ed}
            --win32 $<TARGET_FILE:${program}> $<TARGET_FILE:window_probe>
            --win64 ${SF_WINE64_DIR}/bin/${program}.exe ${SF_WINE64_DIR}/bin/window_probe.exe)
  set_tests_properties(wine.${program} PROPERTIES TIMEOUT 240 SKIP_RETURN_CODE 77 LABELS wine)
endforeach()
