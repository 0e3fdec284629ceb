# Installs the built project into a scratch prefix as a user or packager
# would, then uses every installed surface: the C++ library through
# find_package (and once more as a subdirectory), the C library through
# pkg-config, the Python module with its stubs, the tool and its manual page.
# Inputs: BUILD_DIR, SOURCE_DIR, WORK_DIR; optional: PKG_CONFIG, C_COMPILER,
# PYTHON and PYTHON_DIR (the module's folder under the prefix), MAN (ON when
# the manual page was made).
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed")
endif()

foreach(mode installed subdirectory)
  if(mode STREQUAL installed)
    set(args -DCMAKE_PREFIX_PATH=${prefix})
  else()
    set(args -DQV_VCARD_SOURCE_DIR=${SOURCE_DIR} -DQV_VCARD_TESTS=OFF -DQV_VCARD_BENCH=OFF
             -DQV_VCARD_PYTHON=OFF -DQV_VCARD_COM=OFF)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer
                          -B ${WORK_DIR}/${mode} -G Ninja ${args}
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc)
    message(FATAL_ERROR "${mode}: configure failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/${mode} --target consumer
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc)
    message(FATAL_ERROR "${mode}: build failed")
  endif()
  execute_process(COMMAND ${WORK_DIR}/${mode}/consumer OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(rc OR NOT out STREQUAL "N:Doe;;;;\n")
    message(FATAL_ERROR "${mode}: consumer printed '${out}' (exit ${rc})")
  endif()
  message(STATUS "${mode}: ${out}")
endforeach()

# cc hello.c $(pkg-config --cflags --libs qv_vcard), as the README shows.
file(GLOB pc_files ${prefix}/lib*/pkgconfig/qv_vcard.pc ${prefix}/lib*/*/pkgconfig/qv_vcard.pc)
if(NOT pc_files)
  message(FATAL_ERROR "no qv_vcard.pc under ${prefix}")
endif()
list(GET pc_files 0 pc)
get_filename_component(pc_dir ${pc} DIRECTORY)
if(PKG_CONFIG AND C_COMPILER)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs qv_vcard OUTPUT_VARIABLE flags
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "pkg-config does not know qv_vcard")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  execute_process(COMMAND ${C_COMPILER} ${SOURCE_DIR}/examples/hello.c ${flags} -o ${WORK_DIR}/hello
                  RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "cc hello.c $(pkg-config --cflags --libs qv_vcard) failed")
  endif()
  get_filename_component(lib_dir ${pc_dir} DIRECTORY)
  set(ENV{LD_LIBRARY_PATH} ${lib_dir})
  execute_process(COMMAND ${WORK_DIR}/hello OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(rc OR NOT out MATCHES "^BEGIN:VCARD.*\nN:Doe;;;;.*END:VCARD\n$")
    message(FATAL_ERROR "hello (built with pkg-config) printed '${out}' (exit ${rc})")
  endif()
  message(STATUS "pkg-config: hello.c builds and runs")
endif()

if(PYTHON AND PYTHON_DIR)
  set(site ${prefix}/${PYTHON_DIR})
  if(NOT EXISTS ${site}/qv_vcard.pyi)
    message(FATAL_ERROR "no typing stubs at ${site}/qv_vcard.pyi")
  endif()
  set(ENV{PYTHONPATH} ${site})
  execute_process(COMMAND ${PYTHON} -c
    "import ast, os, qv_vcard; assert os.path.dirname(qv_vcard.__file__) == '${site}', qv_vcard.__file__; tree = ast.parse(open('${site}/qv_vcard.pyi').read()); cls = [n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == 'qvVCard'][0]; typed = {n.target.id: n.annotation.id for n in cls.body if isinstance(n, ast.AnnAssign)}; want = {name: 'str' if kind == 'text' else 'int' for name, _, kind in qv_vcard.PROPERTIES}; assert typed == want, set(typed) ^ set(want); print(qv_vcard.qvVCard(NameFamily='Doe').vCardFileName)"
    OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(rc OR NOT out STREQUAL "Doe.vcf\n")
    message(FATAL_ERROR "the installed Python module printed '${out}' (exit ${rc})")
  endif()
  message(STATUS "python: module and stubs in ${PYTHON_DIR}")
endif()

if(NOT EXISTS ${prefix}/bin/qvvcard)
  message(FATAL_ERROR "qvvcard is not installed")
endif()
if(MAN AND NOT EXISTS ${prefix}/share/man/man1/qvvcard.1)
  message(FATAL_ERROR "the manual page is not installed")
endif()
