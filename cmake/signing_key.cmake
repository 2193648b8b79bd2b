# The build's signing key. Each build folder makes its own 1024-bit RSA key
# pair with the openssl command, unless VARLUME_SIGNING_KEY names a PEM file
# with the private key to use. The private key never leaves the build folder
# (or the packager's file); the programs carry the public half as the Base64
# text of its PKCS #1 form (188 characters), split into fixed pieces.
#
# Sets VARLUME_SIGNING_KEY_FILE (the private key in use) and
# VARLUME_PUBLIC_KEY_TEXT, and defines varlume_public_key_source().

find_program(VARLUME_OPENSSL_COMMAND openssl REQUIRED)

set(VARLUME_SIGNING_KEY "" CACHE FILEPATH
    "PEM file with the RSA private key (1024 bits) that signs the shipped data files; empty: one is made per build folder")

set(signing_dir ${CMAKE_BINARY_DIR}/signing)
file(MAKE_DIRECTORY ${signing_dir})

if(VARLUME_SIGNING_KEY)
  set(VARLUME_SIGNING_KEY_FILE ${VARLUME_SIGNING_KEY})
else()
  set(VARLUME_SIGNING_KEY_FILE ${signing_dir}/private_key.pem)
  if(NOT EXISTS ${VARLUME_SIGNING_KEY_FILE})
    execute_process(
      COMMAND ${VARLUME_OPENSSL_COMMAND} genrsa -out ${VARLUME_SIGNING_KEY_FILE} 1024
      RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
      file(REMOVE ${VARLUME_SIGNING_KEY_FILE})
      message(FATAL_ERROR "Could not make the signing key: ${error}")
    endif()
    file(CHMOD ${VARLUME_SIGNING_KEY_FILE} PERMISSIONS OWNER_READ OWNER_WRITE)
  endif()
endif()
# Visible to every folder of the build (signing data files, test fixtures).
set(VARLUME_SIGNING_KEY_FILE ${VARLUME_SIGNING_KEY_FILE} CACHE INTERNAL "The private key in use")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VARLUME_SIGNING_KEY_FILE})

execute_process(
  COMMAND ${VARLUME_OPENSSL_COMMAND} rsa -in ${VARLUME_SIGNING_KEY_FILE}
          -RSAPublicKey_out -outform DER -out ${signing_dir}/public_key.der
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Could not read the signing key ${VARLUME_SIGNING_KEY_FILE}: ${error}")
endif()
execute_process(
  COMMAND ${VARLUME_OPENSSL_COMMAND} base64 -A -in ${signing_dir}/public_key.der
  RESULT_VARIABLE result OUTPUT_VARIABLE VARLUME_PUBLIC_KEY_TEXT ERROR_VARIABLE error
  OUTPUT_STRIP_TRAILING_WHITESPACE)
string(LENGTH "${VARLUME_PUBLIC_KEY_TEXT}" key_length)
if(NOT result EQUAL 0 OR NOT key_length EQUAL 188)
  message(FATAL_ERROR
    "The signing key must be a 1024-bit RSA key with exponent 65537 "
    "(its public key text has ${key_length} characters, not 188). ${error}")
endif()

# Writes a source defining kPublicKeyPieces from a 188-character Base64 text,
# split into four pieces of 47 characters.
function(varlume_public_key_source text output)
  string(SUBSTRING "${text}" 0 47 VARLUME_KEY_PIECE_1)
  string(SUBSTRING "${text}" 47 47 VARLUME_KEY_PIECE_2)
  string(SUBSTRING "${text}" 94 47 VARLUME_KEY_PIECE_3)
  string(SUBSTRING "${text}" 141 47 VARLUME_KEY_PIECE_4)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/public_key_pieces.cpp.in ${output} @ONLY)
endfunction()
