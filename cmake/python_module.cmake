# The Python extension module `quorvel`, built for the interpreter that FindPython selects
# (pass -DPython_EXECUTABLE=... to choose one, e.g. a debug build). The file name carries that
# interpreter's extension suffix, so a plain and a debug build can sit side by side.

find_package(Python 3.14 REQUIRED COMPONENTS Interpreter Development.Module)

# Debian links a debug interpreter's headers to the plain ones; a compiler that canonicalises
# system header paths then finds the plain pyconfig.h beside Python.h and builds a module whose
# reference counting does not match the interpreter. Keep the paths as given, and check.
execute_process(
  COMMAND "${Python_EXECUTABLE}" -c "import sysconfig; print(sysconfig.get_config_var('Py_DEBUG') or 0)"
  OUTPUT_VARIABLE quorvel_py_debug OUTPUT_STRIP_TRAILING_WHITESPACE)
# The interpreter's own suffix, e.g. .cpython-314-x86_64-linux-gnu.so or .cpython-314d-....so.
execute_process(
  COMMAND "${Python_EXECUTABLE}" -c "import sysconfig; print(sysconfig.get_config_var('EXT_SUFFIX'))"
  OUTPUT_VARIABLE quorvel_ext_suffix OUTPUT_STRIP_TRAILING_WHITESPACE)

# An extension module over the core library, for the interpreter above.
function(quorvel_extension target)
  python_add_library(${target} MODULE WITH_SOABI ${ARGN})
  target_link_libraries(${target} PRIVATE quorvel_core)
  target_include_directories(${target} PRIVATE src)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -fno-canonical-system-headers)
  endif()
  if(quorvel_py_debug STREQUAL "1")
    target_compile_definitions(${target} PRIVATE QUORVEL_DEBUG_INTERPRETER)
  endif()
  if(quorvel_ext_suffix)
    set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX "${quorvel_ext_suffix}")
  endif()
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # Only the module's init function is exported; the core library's symbols stay inside.
    target_link_options(${target} PRIVATE "LINKER:--exclude-libs,ALL")
  endif()
endfunction()

# What both modules share (src/bindings/*.cpp) is compiled into each.
file(GLOB python_module_sources CONFIGURE_DEPENDS src/bindings/*.cpp src/bindings/lists/*.cpp)
quorvel_extension(quorvel ${python_module_sources})

# The array package: its Python sources and the compiled reader `_reader` beside them, in
# <build>/quorvel_arrays, so that the build folder on PYTHONPATH imports both modules.
file(GLOB arrays_module_sources CONFIGURE_DEPENDS src/bindings/*.cpp src/bindings/arrays/*.cpp)
quorvel_extension(quorvel_arrays_reader ${arrays_module_sources})
set_target_properties(quorvel_arrays_reader PROPERTIES
  OUTPUT_NAME _reader
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/quorvel_arrays)
file(GLOB arrays_package_files CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/python/quorvel_arrays/*.py ${CMAKE_SOURCE_DIR}/python/quorvel_arrays/*.pyi
  ${CMAKE_SOURCE_DIR}/python/quorvel_arrays/py.typed)
file(GLOB command_package_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/python/quorvel_arrays/_command/*.py)
add_custom_target(quorvel_arrays_package ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/quorvel_arrays/_command
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${arrays_package_files} ${CMAKE_BINARY_DIR}/quorvel_arrays/
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${command_package_files} ${CMAKE_BINARY_DIR}/quorvel_arrays/_command/
  DEPENDS ${arrays_package_files} ${command_package_files}
  COMMENT "Copying the quorvel_arrays package beside its reader")

# The wheel: the module at the top, its stub as the stub-only package quorvel-stubs (a single-file
# module cannot carry py.typed, so type checkers look for <name>-stubs beside it), and the array
# package with its reader, py.typed and stubs.
if(SKBUILD)
  install(TARGETS quorvel LIBRARY DESTINATION . RUNTIME DESTINATION .)
  install(FILES python/quorvel-stubs/__init__.pyi DESTINATION quorvel-stubs)
  install(TARGETS quorvel_arrays_reader LIBRARY DESTINATION quorvel_arrays RUNTIME DESTINATION quorvel_arrays)
  install(FILES ${arrays_package_files} DESTINATION quorvel_arrays)
  install(FILES ${command_package_files} DESTINATION quorvel_arrays/_command)
endif()
