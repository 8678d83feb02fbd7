# End-to-end test sources (paths relative to tests/).
target_sources(e2e_tests PRIVATE
    e2e/usage_test.cpp
)
target_sources(e2e_tests PRIVATE
    e2e/staged_modes_test.cpp
)
target_sources(e2e_tests PRIVATE
    e2e/pkgtool_test.cpp
)
target_sources(e2e_tests PRIVATE
    e2e/show_test.cpp
)
# The installer's whole job on a scratch router (tmpfs /flash and /ram).
target_sources(e2e_tests PRIVATE
    e2e/router.cpp
    e2e/install_test.cpp
    e2e/stream_test.cpp
    e2e/schedule_test.cpp
    e2e/signature_level_test.cpp
)
target_compile_definitions(e2e_tests PRIVATE INSTALLER_KEYS_DIR="${PROJECT_SOURCE_DIR}/keys")
# A commit killed after every one of its steps, then run again.
target_sources(e2e_tests PRIVATE
    e2e/interrupted_commit_test.cpp
)
# Every byte of small signed packages altered, every chunk boundary cut (TAMPER_SAMPLE=N thins it).
target_sources(e2e_tests PRIVATE
    e2e/tamper_test.cpp
)
