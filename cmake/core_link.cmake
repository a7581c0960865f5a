# Libraries the core needs at link time. The failure report's backtrace looks up symbol names
# and source lines with the compiler's own libbacktrace (a static library that ships with GCC).
#
# The link is added when the including directory has been processed, so this file may be
# included before or after the core library is defined.

function(quorvel_link_core_libraries)
  if(NOT TARGET quorvel_core OR WIN32)
    return()
  endif()
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libbacktrace.a
    OUTPUT_VARIABLE backtrace_library
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${backtrace_library}" OR NOT EXISTS "${backtrace_library}")
    message(FATAL_ERROR "The compiler's libbacktrace.a was not found (${CMAKE_CXX_COMPILER}).")
  endif()
  target_link_libraries(quorvel_core PRIVATE "${backtrace_library}")
endfunction()

cmake_language(DEFER CALL quorvel_link_core_libraries)
