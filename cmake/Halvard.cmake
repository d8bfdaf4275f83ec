# Build conventions shared by every target of the tree.
#
#   build/bin    programs            (run path $ORIGIN/../lib)
#   build/lib    libraries, components and the resource module (run path $ORIGIN)
#   build/tests  test programs       (run path $ORIGIN/../lib)
#
# Platform layers are shared libraries, never static copies: a component loaded
# with dlopen must see the same settings store connection, window-handle table and
# class table as the program that loads it.

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_BUILD_WITH_INSTALL_RPATH ON)
set(CMAKE_INSTALL_RPATH "$ORIGIN/../lib;$ORIGIN")
set(HALVARD_TEST_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)
# GCC 12 at -O3 reports overlaps inside libstdc++'s string copies that cannot happen
# (-Wrestrict false positives in std::string operator+ and assign); they are noise in a
# user's Release build. Other builds keep the warning.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13 AND CMAKE_BUILD_TYPE STREQUAL "Release")
  add_compile_options(-Wno-restrict)
endif()
if(HALVARD_WERROR)
  add_compile_options(-Werror)
endif()
if(HALVARD_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
# Shared libraries must resolve every symbol at link time, so a missing
# dependency is a build error rather than a dlopen failure at run time.
# (Not with the sanitizers: their run-time symbols come from the program.)
if(NOT HALVARD_SANITIZE)
  add_link_options(LINKER:--no-undefined)
endif()

# halvard_library(name SOURCES ... [LIBS ...]): a shared platform or server library.
function(halvard_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()

# halvard_component(name SOURCES ... [LIBS ...]): a component library loaded with
# dlopen through its class registration. Exports only the Dll* entry points.
function(halvard_component name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${A_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "lib" CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

# halvard_program(name SOURCES ... [LIBS ...])
function(halvard_program name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

# halvard_test(name SOURCES ... [LIBS ...] [PROPERTIES ...]): a GoogleTest program
# in build/tests, each test case its own CTest entry.
function(halvard_test name)
  if(NOT HALVARD_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;DEPENDS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${HALVARD_TEST_OUTPUT_DIRECTORY})
  target_link_libraries(${name} PRIVATE ${A_LIBS} halvard_testsupport GTest::gtest GTest::gmock)
  if(A_DEPENDS)
    add_dependencies(${name} ${A_DEPENDS})
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  # The test main sets the environment every test needs (tests/support/TestMain.cpp);
  # the leak checker's list must be there before the process starts. (The ENVIRONMENT
  # property takes one entry here: gtest_discover_tests splits lists.)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${A_TIMEOUT}
      ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
endfunction()

# Module folders. HALVARD_MODULES narrows a development build to some folders
# ("platform/registry;server/settings"); empty builds everything, as CI does.
set(HALVARD_MODULES "" CACHE STRING "Build only these module folders (empty: all)")

# halvard_subdirs(name...): adds each named sub-folder of the current folder that has a
# CMakeLists.txt (and is selected by HALVARD_MODULES).
function(halvard_subdirs)
  file(RELATIVE_PATH here ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(dir ${ARGN})
    if(here)
      set(rel ${here}/${dir})
    else()
      set(rel ${dir})
    endif()
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      continue()
    endif()
    if(HALVARD_MODULES)
      set(selected FALSE)
      foreach(m ${HALVARD_MODULES})
        if(rel STREQUAL m OR rel MATCHES "^${m}/")
          set(selected TRUE)
        endif()
      endforeach()
      if(NOT selected)
        continue()
      endif()
    endif()
    add_subdirectory(${dir})
  endforeach()
endfunction()

# halvard_all_subdirs(): every sub-folder of the current folder.
function(halvard_all_subdirs)
  file(GLOB entries RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT entries)
  set(dirs)
  foreach(e ${entries})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${e})
      list(APPEND dirs ${e})
    endif()
  endforeach()
  halvard_subdirs(${dirs})
endfunction()
