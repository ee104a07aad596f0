# The Python extension module `kestrel`, built only by the wheel build.
#
# The module is installed as the `__init__` of a package directory so that the
# stub and the py.typed marker beside it are found by type checkers, which
# read py.typed only inside a package. The import system loads an extension
# module named `__init__` as the package itself, so `import kestrel` still
# runs PyInit_kestrel and the functions stay `kestrel.optimize_qasm` and
# `kestrel.cli`. Beside it, `kestrel.qiskit` is a pure-Python module that
# imports Qiskit only when it is imported itself.
# pip shows nothing of a build unless asked (pip install -v), and the first
# build of a build folder compiles the whole C++ core, for minutes: its
# configure step says so, also on the terminal the user waits at when there
# is one. Later builds in the same folder rebuild only what changed.
if(NOT KESTREL_CONFIGURED_BEFORE)
  set(KESTREL_FIRST_BUILD_NOTE
      "kestrel: compiling C++ for a few minutes (the first build; a reinstall rebuilds only what changed)")
  message(STATUS "${KESTREL_FIRST_BUILD_NOTE}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${KESTREL_FIRST_BUILD_NOTE}"
                  OUTPUT_FILE /dev/tty RESULT_VARIABLE KESTREL_TTY ERROR_QUIET)
  set(KESTREL_CONFIGURED_BEFORE ON CACHE INTERNAL "This build folder was configured before")
endif()

find_package(Python 3.10 REQUIRED
             COMPONENTS Interpreter Development.Module ${SKBUILD_SABI_COMPONENT})

file(GLOB KESTREL_BINDING_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/binding/*.cpp)
python_add_library(kestrel MODULE ${KESTREL_BINDING_SOURCES} WITH_SOABI USE_SABI 3.10)
target_link_libraries(kestrel PRIVATE kestrel_core)
target_compile_definitions(kestrel PRIVATE KESTREL_VERSION="${KESTREL_VERSION}")
set_target_properties(kestrel PROPERTIES
  OUTPUT_NAME __init__
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
# PyInit_kestrel is the only symbol the module exports; the core library's
# symbols stay inside.
target_link_options(kestrel PRIVATE
  LINKER:--version-script=${PROJECT_SOURCE_DIR}/binding/exports.map)
set_property(TARGET kestrel APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/binding/exports.map)

install(TARGETS kestrel LIBRARY DESTINATION kestrel)
install(FILES ${PROJECT_SOURCE_DIR}/binding/kestrel.pyi DESTINATION kestrel RENAME __init__.pyi)
install(FILES ${PROJECT_SOURCE_DIR}/binding/py.typed DESTINATION kestrel)
install(FILES ${PROJECT_SOURCE_DIR}/binding/main.py DESTINATION kestrel RENAME __main__.py)
install(FILES ${PROJECT_SOURCE_DIR}/binding/qiskit.py DESTINATION kestrel)
