# Benchmark executables; each links installer_core, pkglib and benchmark::benchmark.
