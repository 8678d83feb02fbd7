# End-to-end test sources (paths relative to tests/): the installer's runs on a scratch router
# (tmpfs /flash and /ram) as a table, commits cut after every step, and the tamper sweep
# (TAMPER_SAMPLE=N thins it).
target_sources(e2e_tests PRIVATE
    e2e/router.cpp
    e2e/interrupted_commit_test.cpp
    e2e/scenarios_test.cpp
    e2e/tamper_test.cpp
)
target_compile_definitions(e2e_tests PRIVATE INSTALLER_KEYS_DIR="${PROJECT_SOURCE_DIR}/keys")
