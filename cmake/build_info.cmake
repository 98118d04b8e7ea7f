# SPDX-License-Identifier: Apache-2.0
# Writes OUT, a C++ file naming the program's version and the commit it is built from, and
# rewrites it only when that changes, so a build that changes nothing compiles nothing.
# Run at every build: cmake -DSOURCE_DIR=... -DVERSION=... -DOUT=... -P build_info.cmake
set(commit "unknown")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
                  OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(NOT failed)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    set(commit ${head})
    if(changes)
      string(APPEND commit "+changes")
    endif()
  endif()
endif()
set(text "// Written by cmake/build_info.cmake at build time.\n#include \"host/cli/build_info.h\"\n\nnamespace host::cli {\n\nconst char *const kVersion = \"${VERSION}\";\nconst char *const kCommit = \"${commit}\";\n\n}  // namespace host::cli\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE ${OUT} "${text}")
endif()
