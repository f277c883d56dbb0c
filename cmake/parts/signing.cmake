# Authenticode signing of Quillon.exe with osslsigncode. A release build
# names the maker's certificate and key, as it names the maker's images,
# and Quillon.exe itself is signed. Without them, a copy is signed with a
# throwaway certificate made at build time, so that every build shows the
# signing works; the test verifies whichever was signed.
if(NOT WIN32)
  return()
endif()

set(QUILLON_SIGN_CERT "" CACHE FILEPATH
    "Code-signing certificate (PEM or DER, chain included) that signs Quillon.exe; empty signs only a copy, with a throwaway certificate")
set(QUILLON_SIGN_KEY "" CACHE FILEPATH "The private key of QUILLON_SIGN_CERT")
set(QUILLON_SIGN_PASSWORD_FILE "" CACHE FILEPATH "A file holding the key's password, when it has one")
set(QUILLON_SIGN_TIMESTAMP "" CACHE STRING "An RFC 3161 time-stamp server's URL; empty signs without a time stamp")
set(QUILLON_SIGN_CAFILE "" CACHE FILEPATH
    "The roots the signature test trusts for a release certificate; empty: the system's")

find_program(QUILLON_OSSLSIGNCODE osslsigncode REQUIRED)
find_program(QUILLON_SIGN_PYTHON python3 REQUIRED)

set(sign_script ${PROJECT_SOURCE_DIR}/cmake/scripts/sign.cmake)
set(sign_dir ${CMAKE_BINARY_DIR}/signing)
file(MAKE_DIRECTORY ${sign_dir})

if(QUILLON_SIGN_CERT OR QUILLON_SIGN_KEY)
  foreach(file QUILLON_SIGN_CERT QUILLON_SIGN_KEY)
    if(NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file}: no such file: ${${file}}")
    endif()
  endforeach()
  # Signed in place, right after the link: nothing unsigned is left to ship.
  add_custom_command(TARGET Quillon POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${QUILLON_OSSLSIGNCODE}
            -DINPUT=$<TARGET_FILE:Quillon> -DOUTPUT=$<TARGET_FILE:Quillon>
            -DCERT=${QUILLON_SIGN_CERT} -DKEY=${QUILLON_SIGN_KEY}
            -DPASSWORD_FILE=${QUILLON_SIGN_PASSWORD_FILE} -DTIMESTAMP=${QUILLON_SIGN_TIMESTAMP}
            -P ${sign_script}
    COMMENT "Signing Quillon.exe"
    VERBATIM)
  set(signed_exe $<TARGET_FILE:Quillon>)
  set(unsigned_exe ${sign_dir}/unsigned.exe)
  # The test's unsigned counterpart: the same program without its signature.
  add_custom_command(TARGET Quillon POST_BUILD
    COMMAND ${QUILLON_OSSLSIGNCODE} remove-signature -in $<TARGET_FILE:Quillon> -out ${unsigned_exe}.new
    COMMAND ${CMAKE_COMMAND} -E rename ${unsigned_exe}.new ${unsigned_exe}
    VERBATIM)
  if(QUILLON_SIGN_CAFILE)
    set(sign_cafile ${QUILLON_SIGN_CAFILE})
  else()
    set(sign_cafile /etc/ssl/certs/ca-certificates.crt)
  endif()
else()
  find_program(QUILLON_OPENSSL openssl REQUIRED)
  set(throwaway_cert ${sign_dir}/throwaway-cert.pem)
  set(throwaway_key ${sign_dir}/throwaway-key.pem)
  # Made once per build tree, valid for a year; it signs nothing that ships.
  add_custom_command(
    OUTPUT ${throwaway_cert} ${throwaway_key}
    COMMAND ${QUILLON_OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 365
            -subj "/CN=Quillon throwaway signing" -addext extendedKeyUsage=codeSigning
            -keyout ${throwaway_key} -out ${throwaway_cert}
    COMMENT "Making a throwaway code-signing certificate"
    VERBATIM)
  set(signed_exe ${sign_dir}/Quillon.exe)
  add_custom_command(
    OUTPUT ${signed_exe}
    COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${QUILLON_OSSLSIGNCODE}
            -DINPUT=$<TARGET_FILE:Quillon> -DOUTPUT=${signed_exe}
            -DCERT=${throwaway_cert} -DKEY=${throwaway_key}
            -P ${sign_script}
    DEPENDS Quillon ${throwaway_cert} ${throwaway_key} ${sign_script}
    COMMENT "Signing a copy of Quillon.exe with the throwaway certificate"
    VERBATIM)
  add_custom_target(quillon_signed_copy ALL DEPENDS ${signed_exe})
  set(unsigned_exe $<TARGET_FILE:Quillon>)
  set(sign_cafile ${throwaway_cert})
endif()

add_test(NAME signature_verifies
         COMMAND ${QUILLON_SIGN_PYTHON} ${PROJECT_SOURCE_DIR}/tests/signing/verify_signature.py
                 ${QUILLON_OSSLSIGNCODE} ${signed_exe} ${unsigned_exe} ${sign_cafile})

# The README's comparison of a signed release with a local build, once on
# this build's own signed and unsigned programs.
add_test(NAME signed_release_compares
         COMMAND ${QUILLON_SIGN_PYTHON} ${PROJECT_SOURCE_DIR}/tests/signing/compare_release.py
                 ${QUILLON_OSSLSIGNCODE} ${PROJECT_SOURCE_DIR}/tools/compare-release.sh ${signed_exe} ${unsigned_exe})
