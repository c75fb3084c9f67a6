# Fails unless the shared library exports exactly the eight entry points,
# undecorated. The names come from the ELF dynamic symbol table (-DNM=nm) or
# from the PE export table of a DLL (-DOBJDUMP=x86_64-w64-mingw32-objdump).
# A DLL must also import from Windows system DLLs only: the toolchain's runtime
# (libgcc, libstdc++, winpthread) is linked into it, never loaded beside it.
set(expected zv_rsfec_decode zv_rsfec_destory zv_rsfec_encode zv_rsfec_initilize
    zv_rsfec_is_initilized zv_rsfec_register_log_callback zv_rsfec_set_log_level
    zv_rsfec_version)

function(dump out_var)
  execute_process(COMMAND ${ARGN} ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed on ${LIB}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${out}")
  set(${out_var} "${lines}" PARENT_SCOPE)
endfunction()

set(names)
set(imports)
if(DEFINED NM)
  dump(lines ${NM} -D --defined-only)
  foreach(line IN LISTS lines)
    # Text, data and read-only symbols count; absolute version nodes do not.
    if(line MATCHES "^[0-9a-fA-F]* [TtDdBbRrVvWwiu] ([^ ]+)$")
      list(APPEND names ${CMAKE_MATCH_1})
    endif()
  endforeach()
elseif(DEFINED OBJDUMP)
  dump(lines ${OBJDUMP} -p)
  set(in_names FALSE)
  set(addresses 0)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "\r$" "" line "${line}")
    # Every export has an address; one without a name would be exported by
    # ordinal only and would escape the name list.
    if(line MATCHES "^[ \t]+\\[ *[0-9]+\\] \\+base\\[")
      math(EXPR addresses "${addresses} + 1")
    endif()
    if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
      set(in_names TRUE)
    elseif(in_names AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] (.+)$")
      list(APPEND names ${CMAKE_MATCH_1})
    elseif(in_names)
      set(in_names FALSE)
    endif()
    if(line MATCHES "^[ \t]*DLL Name: (.+)$")
      list(APPEND imports ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(LENGTH names named)
  if(NOT addresses EQUAL named)
    message(FATAL_ERROR "${LIB} exports ${addresses} addresses but ${named} names")
  endif()
  if(NOT imports)
    message(FATAL_ERROR "no import table read from ${LIB}")
  endif()
  foreach(dll IN LISTS imports)
    string(TOLOWER "${dll}" lower)
    if(NOT lower MATCHES "^(kernel32|msvcrt|ucrtbase|ntdll|advapi32|bcrypt|user32|ws2_32)\\.dll$"
       AND NOT lower MATCHES "^api-ms-win-[a-z0-9-]+\\.dll$")
      message(FATAL_ERROR "${LIB} imports ${dll}, which is not a Windows system DLL "
                          "(imports: ${imports})")
    endif()
  endforeach()
  message(STATUS "imports: ${imports}")
else()
  message(FATAL_ERROR "give -DNM=<nm> or -DOBJDUMP=<objdump>")
endif()

list(SORT names)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${names}")
