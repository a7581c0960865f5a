# Libraries the core needs at link time. The failure report's backtrace looks up symbol names
# and source lines with the compiler's own libbacktrace (a static library that ships with GCC)
# when it is there; other compilers get names from the dynamic symbol tables only.
#
# The link is added when the including directory has been processed, so this file may be
# included before or after the core library is defined.

include(CheckIncludeFileCXX)

function(quorvel_link_core_libraries)
  if(NOT TARGET quorvel_core OR WIN32)
    return()
  endif()
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libbacktrace.a
    OUTPUT_VARIABLE backtrace_library
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  check_include_file_cxx(backtrace.h quorvel_have_backtrace_header)
  if(IS_ABSOLUTE "${backtrace_library}" AND EXISTS "${backtrace_library}" AND quorvel_have_backtrace_header)
    target_link_libraries(quorvel_core PRIVATE "${backtrace_library}")
    target_compile_definitions(quorvel_core PRIVATE QUORVEL_HAVE_LIBBACKTRACE=1)
  else()
    message(STATUS "libbacktrace not found: backtraces will name exported symbols only")
    target_compile_definitions(quorvel_core PRIVATE QUORVEL_HAVE_LIBBACKTRACE=0)
    target_link_libraries(quorvel_core PRIVATE ${CMAKE_DL_LIBS})
  endif()
endfunction()

cmake_language(DEFER CALL quorvel_link_core_libraries)
