# GoogleTest from Debian's sources (package googletest), built with each toolchain.
set(BRIS_GTEST_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree")
set(BRIS_HAVE_GTEST OFF)
if(EXISTS "${BRIS_GTEST_DIR}/CMakeLists.txt")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  if(BRIS_SANITIZE AND NOT WIN32)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
  endif()
  add_subdirectory(${BRIS_GTEST_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
  set(BRIS_HAVE_GTEST ON)
endif()

# bris_add_test(NAME src...): one test program, one ctest entry (a Wine start costs
# about two seconds, so Windows programs group many cases).
function(bris_add_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gmock GTest::gtest_main)
  if(WIN32)
    set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE OFF)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
endfunction()
