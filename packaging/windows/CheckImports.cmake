# Run at the end of the Windows install: every DLL that an installed program or DLL imports must
# lie in the same folder (Windows looks there first) or be part of Windows itself, so that the
# folder runs on a clean Windows with nothing else installed.
set(system_dlls
  advapi32.dll bcrypt.dll cfgmgr32.dll comdlg32.dll crypt32.dll gdi32.dll hid.dll iphlpapi.dll
  kernel32.dll mpr.dll msvcrt.dll netapi32.dll ntdll.dll ole32.dll oleaut32.dll setupapi.dll
  shell32.dll shlwapi.dll user32.dll userenv.dll version.dll winmm.dll ws2_32.dll)

set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB_RECURSE binaries "${folder}/*.exe" "${folder}/*.dll")
if(NOT binaries)
  message(FATAL_ERROR "No program was installed in ${folder}.")
endif()
set(missing)
foreach(binary IN LISTS binaries)
  execute_process(COMMAND ${TARVO_OBJDUMP} -p ${binary} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TARVO_OBJDUMP} cannot read ${binary}.")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
  get_filename_component(dir ${binary} DIRECTORY)
  file(GLOB beside RELATIVE ${dir} "${dir}/*.dll")
  string(TOLOWER "${beside}" beside)
  foreach(import IN LISTS imports)
    string(REGEX REPLACE "^DLL Name: " "" name "${import}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" lower)
    # list(FIND), not IN_LIST: an install script runs under CMake's oldest policies.
    list(FIND system_dlls "${lower}" system)
    list(FIND beside "${lower}" local)
    # The API sets are Windows' own names for parts of itself.
    if(system GREATER -1 OR local GREATER -1 OR lower MATCHES "^(api|ext)-ms-win-")
      continue()
    endif()
    file(RELATIVE_PATH shown ${folder} ${binary})
    list(APPEND missing "${shown} needs ${name}")
  endforeach()
endforeach()
if(missing)
  list(JOIN missing "\n  " text)
  message(FATAL_ERROR "DLLs missing from the install folder ${folder}:\n  ${text}")
endif()
list(LENGTH binaries count)
message(STATUS "Imports checked: ${count} programs and DLLs find every DLL they need")
