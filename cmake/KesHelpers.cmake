# Shared build settings and the small functions every folder uses.

add_library(kes_warnings INTERFACE)
target_compile_options(kes_warnings INTERFACE -Wall -Wextra)
if(KES_WERROR)
  target_compile_options(kes_warnings INTERFACE -Werror)
endif()

# Reports name source files by their path below the project root
# ("kes/error/keserror"), so __FILE__ must not carry the checkout's location.
add_compile_options(-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)

if(KES_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KES_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KES_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KES_SANITIZE must be empty, address or thread")
endif()

# kes_add_library(<target> <alias> <folder> [LIBS ...])
# A shared library from every .cpp below <folder>; its public headers are the
# .h files there, included as <folder/...>. Files under internal/ are private.
function(kes_add_library target alias)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME" "LIBS;PRIVATE_LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${target} SHARED ${sources})
  add_library(${alias} ALIAS ${target})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${target} PUBLIC ${ARG_LIBS} PRIVATE kes_warnings ${ARG_PRIVATE_LIBS})
  if(ARG_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  string(REPLACE "kes::" "" export_name ${alias})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name}
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endfunction()

# kes_add_gtest(<name> [LIBS ...])
# One GoogleTest program from every .cpp in the calling folder; its cases are
# registered with ctest one by one when the tests run.
function(kes_add_gtest name)
  cmake_parse_arguments(ARG "" "" "LIBS;PROPERTIES" ${ARGN})
  find_package(GTest REQUIRED)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock
                        GTest::gtest_main Threads::Threads kes_warnings)
  include(GoogleTest)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ${ARG_PROPERTIES} TIMEOUT 120)
endfunction()

# Add every direct subfolder of the calling folder that has a CMakeLists.txt.
function(kes_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
