# The compression libraries behind src/codec, each optional: a build without one still builds and
# says, when a file of that format is read, that it cannot read it (the cross-build for Windows and
# an install from the sources without the headers have none).

include(FindPkgConfig OPTIONAL RESULT_VARIABLE quorvel_have_pkg_config)

function(quorvel_codec_library define)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ARCHIVE" "TARGETS")
  # The archive first, when asked for, where one is named and the build machine's libraries are
  # the target's.
  if(QUORVEL_CODEC_ARCHIVES AND arg_ARCHIVE AND NOT CMAKE_CROSSCOMPILING)
    find_library(quorvel_archive_${define} NAMES ${arg_ARCHIVE})
    if(quorvel_archive_${define})
      target_link_libraries(quorvel_core PRIVATE ${quorvel_archive_${define}})
      target_compile_definitions(quorvel_core PRIVATE ${define}=1)
      set(${define} 1 PARENT_SCOPE)
      return()
    endif()
  endif()
  foreach(target IN LISTS arg_TARGETS)
    if(TARGET ${target})
      target_link_libraries(quorvel_core PRIVATE ${target})
      target_compile_definitions(quorvel_core PRIVATE ${define}=1)
      set(${define} 1 PARENT_SCOPE)
      return()
    endif()
  endforeach()
  target_compile_definitions(quorvel_core PRIVATE ${define}=0)
  set(${define} 0 PARENT_SCOPE)
  message(STATUS "quorvel: ${define} off: that format of compressed plot files will be refused")
endfunction()

find_package(ZLIB QUIET)
find_package(BZip2 QUIET)
find_package(LibLZMA QUIET)
find_package(zstd CONFIG QUIET)
# pkg-config describes the build machine's libraries: never those of a cross-build's target.
if(NOT TARGET zstd::libzstd_shared AND NOT TARGET zstd::libzstd_static AND quorvel_have_pkg_config
   AND NOT CMAKE_CROSSCOMPILING)
  pkg_check_modules(quorvel_zstd QUIET IMPORTED_TARGET libzstd)
endif()

quorvel_codec_library(QUORVEL_HAVE_ZLIB TARGETS ZLIB::ZLIB)
quorvel_codec_library(QUORVEL_HAVE_BZIP2 TARGETS BZip2::BZip2)
# liblzma's symbols carry versions of its own, which the wheels' repair will not take from a shared
# library: the wheels built by the test command link its archive into the module instead (Debian's
# is position-independent; another system's may not be, so a build from the sources links the
# shared library).
option(QUORVEL_CODEC_ARCHIVES "Link the archives of the compression libraries that have one named" OFF)
quorvel_codec_library(QUORVEL_HAVE_LZMA ARCHIVE liblzma.a TARGETS LibLZMA::LibLZMA)
quorvel_codec_library(QUORVEL_HAVE_ZSTD TARGETS zstd::libzstd_shared zstd::libzstd_static PkgConfig::quorvel_zstd)
