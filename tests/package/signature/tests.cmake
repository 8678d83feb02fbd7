# Unit test sources of tests/package/signature (paths relative to tests/).
target_sources(unit_tests PRIVATE
    package/signature/crypto_test.cpp
    package/signature/field25519_test.cpp
    package/signature/legacy_test.cpp
    package/signature/verify_test.cpp
)
