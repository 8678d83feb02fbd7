# Sources of src/package/signature (paths relative to src/).
target_sources(installer_core PRIVATE
    package/signature/crypto_openssl.cpp
    package/signature/field25519.cpp
    package/signature/h25.cpp
    package/signature/key_file.cpp
    package/signature/legacy.cpp
    package/signature/verify.cpp
)

# The public key file is built in: its text becomes a raw string literal in a generated source.
# Reconfigure when it changes, as file(READ) alone is not tracked.
file(READ "${INSTALLER_PUBLIC_KEYS}" INSTALLER_PUBLIC_KEYS_TEXT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${INSTALLER_PUBLIC_KEYS}")
configure_file(package/signature/embedded_keys.cpp.in
    "${CMAKE_CURRENT_BINARY_DIR}/package/signature/embedded_keys.cpp" @ONLY)
target_sources(installer_core PRIVATE
    "${CMAKE_CURRENT_BINARY_DIR}/package/signature/embedded_keys.cpp")
