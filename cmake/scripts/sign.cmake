# Signs a Windows executable with Authenticode through osslsigncode.
#
#   cmake -DOSSLSIGNCODE=... -DINPUT=... -DOUTPUT=... -DCERT=... -DKEY=...
#         [-DPASSWORD_FILE=...] [-DTIMESTAMP=url] -P sign.cmake
#
# INPUT and OUTPUT may be the same file: the signature is made beside it and
# moved over it only when signing succeeded, so a failed run never leaves
# a half-written executable behind.
foreach(variable OSSLSIGNCODE INPUT OUTPUT CERT KEY)
  if(NOT ${variable})
    message(FATAL_ERROR "sign.cmake: ${variable} is not set")
  endif()
endforeach()

set(arguments sign -certs ${CERT} -key ${KEY} -h sha256 -n "Quillon")
if(PASSWORD_FILE)
  list(APPEND arguments -readpass ${PASSWORD_FILE})
endif()
if(TIMESTAMP)
  list(APPEND arguments -ts ${TIMESTAMP})
endif()

set(partial ${OUTPUT}.signing)
file(REMOVE ${partial})
execute_process(COMMAND ${OSSLSIGNCODE} ${arguments} -in ${INPUT} -out ${partial}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE ${partial})
  message(FATAL_ERROR "osslsigncode could not sign ${INPUT}:\n${output}")
endif()
file(RENAME ${partial} ${OUTPUT})
