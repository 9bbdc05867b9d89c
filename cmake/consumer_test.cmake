# Installs the build into a fresh prefix, builds examples/consumer against it
# (with CMake's find_package, and with pkg-config when the machine has it) and
# checks that the consumer cuts the same domes as the installed programs.

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

function(expect_same_file a b)
  file(SHA256 ${a} ha)
  file(SHA256 ${b} hb)
  if(NOT ha STREQUAL hb)
    message(FATAL_ERROR "${a} and ${b} differ")
  endif()
endfunction()

set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/programs)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})
foreach(f ${INCLUDEDIR}/pxImage.h ${INCLUDEDIR}/pxIO.h ${INCLUDEDIR}/ift.h ${INCLUDEDIR}/graph.h
          ${INCLUDEDIR}/unionfind.h ${LIBDIR}/libift.a ${BINDIR}/sower ${BINDIR}/sieve
          ${LIBDIR}/cmake/ift_toolkit/ift_toolkitConfig.cmake
          ${LIBDIR}/cmake/ift_toolkit/ift_toolkitConfigVersion.cmake
          ${LIBDIR}/pkgconfig/ift_toolkit.pc)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "the install lacks ${f}")
  endif()
endforeach()

# The consumer sees the install and nothing else: no package registry, and
# the build tree is not on any search path.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/consumer -B ${WORK}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_BUILD_TYPE=${CONFIG} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
file(STRINGS ${WORK}/build/CMakeCache.txt found REGEX "^ift_toolkit_DIR:")
if(NOT found STREQUAL "ift_toolkit_DIR:PATH=${prefix}/${LIBDIR}/cmake/ift_toolkit")
  message(FATAL_ERROR "the package was found elsewhere: ${found}")
endif()
run(${CMAKE_COMMAND} --build ${WORK}/build --config ${CONFIG})

# The same cuts with the installed programs, in their own folder since sieve
# writes fixed names.
set(coins ${SOURCE_DIR}/data/coins.pgm)
set(programs ${WORK}/programs)
set(sower ${prefix}/${BINDIR}/sower)
set(sieve ${CMAKE_COMMAND} -E chdir ${programs} ${prefix}/${BINDIR}/sieve)
run(${sower} ${coins} ${programs}/maxima.txt regMax 230 255)
run(${sieve} ${coins} ${coins} 1 1 ${programs}/maxima.txt)
file(RENAME ${programs}/filtered.pgm ${programs}/maxima.pgm)
run(${sower} ${coins} ${programs}/frame.txt frame 0)
run(${sieve} ${coins} ${coins} 1 1 ${programs}/frame.txt)
file(RENAME ${programs}/filtered.pgm ${programs}/frame.pgm)

run(${WORK}/build/consumer ${coins} ${WORK}/maxima.pgm maxima 230)
run(${WORK}/build/consumer ${coins} ${WORK}/frame.pgm frame)
expect_same_file(${WORK}/maxima.pgm ${programs}/maxima.pgm)
expect_same_file(${WORK}/frame.pgm ${programs}/frame.pgm)

# pkg-config users get the same program from the .pc file.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs --static ift_toolkit
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know ift_toolkit")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  separate_arguments(extra UNIX_COMMAND "${CXX_FLAGS} ${LINK_FLAGS}")
  run(${CXX} -std=c++17 ${extra} ${SOURCE_DIR}/examples/consumer/consumer.cpp ${flags}
      -o ${WORK}/consumer-pc)
  run(${WORK}/consumer-pc ${coins} ${WORK}/maxima-pc.pgm maxima 230)
  expect_same_file(${WORK}/maxima-pc.pgm ${programs}/maxima.pgm)
endif()
