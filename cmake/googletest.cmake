# GoogleTest from source, where the system keeps it (Debian's googletest
# package puts it under /usr/src); ZARVELO_GOOGLETEST_DIR names another
# checkout.
find_path(ZARVELO_GOOGLETEST_DIR
  NAMES googletest/include/gtest/gtest.h
  PATHS /usr/src /usr/local/src /opt/local/src
  PATH_SUFFIXES googletest
  NO_DEFAULT_PATH
  NO_CMAKE_FIND_ROOT_PATH  # a tree on the build machine, also when cross-compiling
  DOC "GoogleTest's source tree")
if(NOT ZARVELO_GOOGLETEST_DIR)
  message(FATAL_ERROR "GoogleTest's source is not there: install the googletest package "
                      "or set ZARVELO_GOOGLETEST_DIR")
endif()

# zarvelo_add_googletest(): builds gtest and gtest_main for this build.
macro(zarvelo_add_googletest)
  add_subdirectory(${ZARVELO_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endmacro()
