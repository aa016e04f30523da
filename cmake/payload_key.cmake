# The publisher key an installer carries: the plug-in it downloads is
# installed only when this key's signature of it verifies.

# zarvelo_payload_key_header(PEM HEADER): writes HEADER defining
# ZARVELO_PAYLOAD_PUBLIC_KEY_XY, the key's raw X‖Y (64 bytes) as a string
# literal, from PEM, an ECDSA P-256 public key as `openssl ec -pubout` writes
# it; empty when PEM is empty (an installer that checks no signature).
# Anything else in PEM stops the configure step.
function(zarvelo_payload_key_header pem header)
  set(xy "")
  if(NOT pem STREQUAL "")
    if(NOT EXISTS "${pem}" OR IS_DIRECTORY "${pem}")
      message(FATAL_ERROR "ZARVELO_PAYLOAD_PUBLIC_KEY: no file ${pem}")
    endif()
    find_program(ZARVELO_OPENSSL openssl)
    if(NOT ZARVELO_OPENSSL)
      message(FATAL_ERROR "ZARVELO_PAYLOAD_PUBLIC_KEY: reading the key needs openssl")
    endif()
    get_filename_component(name "${header}" NAME_WE)
    set(der "${CMAKE_CURRENT_BINARY_DIR}/${name}.der")
    # Uncompressed, whatever form the file holds the point in: X‖Y is what
    # Windows imports.
    execute_process(
      COMMAND "${ZARVELO_OPENSSL}" ec -pubin -in "${pem}" -outform DER -conv_form uncompressed
              -out "${der}"
      RESULT_VARIABLE failed ERROR_VARIABLE details OUTPUT_QUIET)
    set(p256_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
    set(hex "")
    if(NOT failed)
      file(READ "${der}" hex HEX)
    endif()
    file(REMOVE "${der}")
    string(LENGTH "${hex}" length)
    string(FIND "${hex}" "${p256_prefix}" at)
    if(failed OR NOT length EQUAL 182 OR NOT at EQUAL 0)
      message(FATAL_ERROR
        "ZARVELO_PAYLOAD_PUBLIC_KEY: ${pem} is not an ECDSA P-256 public key in PEM form, "
        "as `openssl ec -pubout` writes it (tools/make-signing-key makes one).\n${details}")
    endif()
    string(SUBSTRING "${hex}" 54 128 xy)
    string(REGEX REPLACE "(..)" "\\\\x\\1" xy "${xy}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem}")
  endif()
  file(CONFIGURE OUTPUT "${header}" @ONLY CONTENT
"#pragma once

// The publisher key (ECDSA P-256, X then Y) the plug-in's signature is
// checked with; empty when the installer was built without one.
#define ZARVELO_PAYLOAD_PUBLIC_KEY_XY \"@xy@\"
")
endfunction()
