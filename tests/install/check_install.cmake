# cmake -DBUILD=... -DHERE=... -DWORK=... -DCC=... -DPKG_CONFIG=... -DVERSION=... -DLIBDIR=... -DOBJDUMP=... -DTOOL=ON|OFF -P check_install.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(P ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${P})
set(libdir ${P}/${LIBDIR})

# The library under its three names, the SONAME carrying the major version.
foreach(f ${libdir}/libtavrix.so ${libdir}/libtavrix.so.0 ${libdir}/libtavrix.so.${VERSION} ${P}/include/tavrix.h
          ${libdir}/cmake/Tavrix/TavrixConfig.cmake ${libdir}/cmake/Tavrix/TavrixConfigVersion.cmake
          ${libdir}/pkgconfig/tavrix.pc)
  if(NOT EXISTS ${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
run(${OBJDUMP} -p ${libdir}/libtavrix.so.${VERSION})
if(NOT out MATCHES "SONAME +libtavrix\\.so\\.0\n")
  message(FATAL_ERROR "libtavrix.so.${VERSION} lacks the SONAME libtavrix.so.0:\n${out}")
endif()
if(TOOL)
  run(${P}/bin/tavrix --help)
endif()

# find_package: the imported target brings the include directory and the library.
run(${CMAKE_COMMAND} -S ${HERE}/find_package -B ${WORK}/fp -DCMAKE_PREFIX_PATH=${P} -DCMAKE_C_COMPILER=${CC})
run(${CMAKE_COMMAND} --build ${WORK}/fp)
run(${WORK}/fp/consumer)
message(STATUS "find_package consumer: ${out}")

# pkg-config, as the README's C example is built.
set(ENV{PKG_CONFIG_PATH} ${libdir}/pkgconfig)
run(${PKG_CONFIG} --modversion tavrix)
if(NOT out STREQUAL "${VERSION}\n")
  message(FATAL_ERROR "pkg-config reports version ${out}")
endif()
run(${PKG_CONFIG} --cflags --libs tavrix)
separate_arguments(flags UNIX_COMMAND "${out}")
run(${CC} -std=c11 ${HERE}/consumer.c -o ${WORK}/pc_consumer ${flags})
set(ENV{LD_LIBRARY_PATH} ${libdir})
run(${WORK}/pc_consumer)
message(STATUS "pkg-config consumer: ${out}")

# The measurement layer through pkg-config: its header, its library, and the
# library under it found through the layer's own run path.
if(TOOL)
  run(${PKG_CONFIG} --cflags --libs tavrix-measure)
  separate_arguments(mflags UNIX_COMMAND "${out}")
  run(${CC} -std=c11 ${HERE}/measure_consumer.c -o ${WORK}/measure_consumer ${mflags} -lm)
  run(${WORK}/measure_consumer ${WORK}/measure_consumer.wav)
  message(STATUS "measurement layer consumer: ${out}")
endif()

# The README's C example, built the way the README says.
file(READ ${HERE}/../../README.md readme)
string(FIND "${readme}" "```c\n" begin)
string(SUBSTRING "${readme}" ${begin} -1 readme)
string(FIND "${readme}" "\n```\n" end)
math(EXPR end "${end} - 5")
string(SUBSTRING "${readme}" 5 ${end} example)
file(WRITE ${WORK}/example.c "${example}\n")
run(${CC} -std=c11 ${WORK}/example.c -o ${WORK}/example ${flags})
execute_process(COMMAND ${WORK}/example WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "sweep of 480000 samples, file status 0\n")
  message(FATAL_ERROR "README example: exit ${rc}, printed: ${out}")
endif()
