# The Python extension module `quorvel`, built for the interpreter that FindPython selects
# (pass -DPython_EXECUTABLE=... to choose one, e.g. a debug build). The file name carries that
# interpreter's extension suffix, so a plain and a debug build can sit side by side.

find_package(Python 3.14 REQUIRED COMPONENTS Interpreter Development.Module)

file(GLOB python_module_sources CONFIGURE_DEPENDS
  src/python/*.cpp)
python_add_library(quorvel MODULE WITH_SOABI ${python_module_sources})
target_link_libraries(quorvel PRIVATE quorvel_core)
target_include_directories(quorvel PRIVATE src)
set_target_properties(quorvel PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)

# Debian links a debug interpreter's headers to the plain ones; a compiler that canonicalises
# system header paths then finds the plain pyconfig.h beside Python.h and builds a module whose
# reference counting does not match the interpreter. Keep the paths as given, and check.
execute_process(
  COMMAND "${Python_EXECUTABLE}" -c "import sysconfig; print(sysconfig.get_config_var('Py_DEBUG') or 0)"
  OUTPUT_VARIABLE quorvel_py_debug OUTPUT_STRIP_TRAILING_WHITESPACE)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(quorvel PRIVATE -fno-canonical-system-headers)
endif()
if(quorvel_py_debug STREQUAL "1")
  target_compile_definitions(quorvel PRIVATE QUORVEL_DEBUG_INTERPRETER)
endif()

# The interpreter's own suffix, e.g. .cpython-314-x86_64-linux-gnu.so or .cpython-314d-....so.
execute_process(
  COMMAND "${Python_EXECUTABLE}" -c "import sysconfig; print(sysconfig.get_config_var('EXT_SUFFIX'))"
  OUTPUT_VARIABLE quorvel_ext_suffix OUTPUT_STRIP_TRAILING_WHITESPACE)
if(quorvel_ext_suffix)
  set_target_properties(quorvel PROPERTIES PREFIX "" SUFFIX "${quorvel_ext_suffix}")
endif()

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  # Only PyInit_quorvel is exported; the core library's symbols stay inside.
  target_link_options(quorvel PRIVATE "LINKER:--exclude-libs,ALL")
endif()

if(SKBUILD)
  install(TARGETS quorvel LIBRARY DESTINATION . RUNTIME DESTINATION .)
  install(FILES python/quorvel.pyi DESTINATION .)
endif()
