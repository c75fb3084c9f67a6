# Installs the build into a fresh prefix, then configures, builds and runs a
# consumer project that finds the package and links both libraries, and
# builds the same consumers with the flags of the pkg-config files.
# For a cross build, TOOLCHAIN is the toolchain file of the consumer build and
# EMULATOR ('|'-separated command) runs its programs; for Windows (WINDOWS=ON)
# the consumer of the DLL gets zv_rsfec.dll beside it, as a Windows application
# ships it.
# With SANITIZE=ON the libraries carry sanitizer instrumentation, and the
# consumer is built with the same sanitizers to link and load them.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
endfunction()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

set(installed include/zv_rsfec.h include/zvfec/cauchy.h include/zvfec/stream.h)
set(configure_args)
set(runner)
set(exe "")
if(DEFINED TOOLCHAIN)
  # The toolchain confines package searches to the target's sysroot; the
  # package directory is named outright.
  set(configure_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
      -Dzv_rsfec_DIR=${prefix}/${LIBDIR}/cmake/zv_rsfec)
  string(REPLACE "|" ";" runner "${EMULATOR}")
  if(WINDOWS)
    list(APPEND installed bin/zv_rsfec.dll lib/libzv_rsfec.dll.a lib/libzvfec.a)
    # The static consumer carries its C++ runtime so that it starts without
    # the toolchain's DLLs.
    list(APPEND configure_args -DCMAKE_EXE_LINKER_FLAGS=-static)
    set(exe .exe)
  else()
    list(APPEND installed ${LIBDIR}/libzv_rsfec.so ${LIBDIR}/libzvfec.a)
  endif()
endif()
set(sanitize_flags)
if(SANITIZE)
  set(flags -fsanitize=address,undefined)
  set(sanitize_flags ${flags})
  list(APPEND configure_args -DCMAKE_C_FLAGS=${flags} -DCMAKE_CXX_FLAGS=${flags}
       -DCMAKE_EXE_LINKER_FLAGS=${flags})
endif()
if(DEFINED GST_PLUGIN)
  list(APPEND installed ${GST_PLUGIN} ${LIBDIR}/pkgconfig/zv_rsfec.pc)
endif()
foreach(f IN LISTS installed)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} ${configure_args})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
if(WINDOWS)
  file(COPY ${prefix}/bin/zv_rsfec.dll DESTINATION ${WORK_DIR}/build)
endif()
run(${runner} ${WORK_DIR}/build/consumer_shared${exe})
run(${runner} ${WORK_DIR}/build/consumer_static${exe})
run(${runner} ${WORK_DIR}/build/consumer_stream${exe})

# Without CMake: the same consumers compiled and linked with what the
# pkg-config files say, as a Meson or autotools project would.
if(DEFINED PKG_CONFIG AND DEFINED CC)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  foreach(pair "zv_rsfec|main.c" "zvfec|stream.c")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 module)
    list(GET pair 1 source)
    execute_process(COMMAND ${PKG_CONFIG} --cflags --libs ${module} RESULT_VARIABLE rc
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "pkg-config knows no ${module} in ${prefix}/${LIBDIR}/pkgconfig")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    set(out ${WORK_DIR}/pc_${module})
    run(${CC} ${flags} ${CONSUMER_DIR}/${source} ${flags} ${sanitize_flags} -o ${out})
    set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
    run(${out})
  endforeach()
endif()
# A program that links the static library is no DLL: it must export nothing.
if(DEFINED OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${WORK_DIR}/build/consumer_static${exe}
                  OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR dump MATCHES "Ordinal/Name Pointer\\] Table")
    message(FATAL_ERROR "consumer_static${exe} exports names of the library")
  endif()
endif()
