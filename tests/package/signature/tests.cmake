# Unit test sources of tests/package/signature (paths relative to tests/).
target_sources(unit_tests PRIVATE
    package/signature/crypto_test.cpp
    package/signature/field25519_test.cpp
    package/signature/legacy_test.cpp
    package/signature/verify_test.cpp
)
# The development key files of the source tree, and the public key file built in.
set_source_files_properties(
    package/signature/legacy_test.cpp
    package/signature/verify_test.cpp
    PROPERTIES COMPILE_DEFINITIONS
    "INSTALLER_KEYS_DIR=\"${PROJECT_SOURCE_DIR}/keys\";INSTALLER_PUBLIC_KEYS_FILE=\"${INSTALLER_PUBLIC_KEYS}\"")
