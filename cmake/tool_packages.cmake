# The packages the korvex tool links: options by CLI11, JSON by nlohmann-json,
# the shell's line editing by libedit, the MQTT bridge by libmosquitto.
# libsystemd lets the bridge tell a systemd service that it is ready and
# alive; without it the tool builds and the bridge runs, unsupervised.
# Imported targets are seen only in the directory that found them: every
# directory that links the tool's libraries includes this file.
find_package(CLI11 CONFIG REQUIRED)
find_package(nlohmann_json CONFIG REQUIRED)
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBEDIT REQUIRED IMPORTED_TARGET libedit)
pkg_check_modules(MOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)
pkg_check_modules(SYSTEMD QUIET IMPORTED_TARGET libsystemd)
