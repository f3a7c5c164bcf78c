# Delay-import libraries. A system DLL that start-up does not call is loaded on the first call
# into it instead of with the program: every DLL loaded at start costs start-up time, under Wine
# most of all. GNU ld has no /DELAYLOAD, but dlltool makes an import library whose thunks load
# the DLL on first use through the runtime's __delayLoadHelper2. Its symbols are those of the
# toolchain's own import library; data exports are left out, as they cannot be loaded late.
find_program(NORVANE_NM NAMES ${NORVANE_TRIPLE}-nm REQUIRED)
find_program(NORVANE_DLLTOOL NAMES ${NORVANE_TRIPLE}-dlltool REQUIRED)

# Sets out to the delay-import library of <name>.dll, made from lib<name>.a of the toolchain.
function(norvane_delay_import out name)
  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  set(lib ${dir}/lib${name}_delay.a)
  set(${out} ${lib} PARENT_SCOPE)
  if(EXISTS ${lib})
    return()
  endif()
  find_library(NORVANE_IMPLIB_${name} ${name} REQUIRED)
  execute_process(COMMAND ${NORVANE_NM} ${NORVANE_IMPLIB_${name}} OUTPUT_VARIABLE symbols ERROR_QUIET
                  COMMAND_ERROR_IS_FATAL ANY)
  # 32-bit names carry the C prefix "_" and the stdcall suffix "@n"; the DLL exports them bare.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix "_")
    set(killAt -k)
  else()
    set(prefix "")
    set(killAt)
  endif()
  string(REGEX MATCHALL " I __imp_${prefix}[^\n]+" imports "${symbols}")
  set(def "LIBRARY ${name}.dll\nEXPORTS\n")
  foreach(line ${imports})
    string(REGEX REPLACE "^ I __imp_${prefix}" "" symbol "${line}")
    # A function has a code thunk beside its __imp_ pointer; a data export has none.
    string(REGEX REPLACE "([][.*+?^$()|\\\\])" "\\\\\\1" pattern "${prefix}${symbol}")
    if(symbols MATCHES " T ${pattern}\n")
      string(APPEND def "${symbol}\n")
    endif()
  endforeach()
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${dir}/${name}.def "${def}")
  execute_process(COMMAND ${NORVANE_DLLTOOL} ${killAt} -d ${dir}/${name}.def -y ${lib} -D ${name}.dll
                  COMMAND_ERROR_IS_FATAL ANY)
endfunction()
