# Third-party libraries, all from Debian packages (scripts/install-deps.sh).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3 REQUIRED)

pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
# ICU segments text into user-perceived characters and classifies Unicode letters.
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)
add_library(kx::sodium ALIAS PkgConfig::SODIUM)

# Standalone Asio is header-only.
add_library(kx_asio INTERFACE)
target_compile_definitions(kx_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(kx_asio INTERFACE Threads::Threads)
if(KX_SANITIZE STREQUAL "thread")
  # Asio's fenced blocks use std::atomic_thread_fence, which g++ 12 flags under TSan (-Wtsan);
  # the fences sit beside the mutexes that TSan does follow.
  target_compile_options(kx_asio INTERFACE -Wno-tsan)
endif()
add_library(kx::asio ALIAS kx_asio)

find_package(CLI11 CONFIG QUIET)
if(NOT TARGET CLI11::CLI11)
  add_library(kx_cli11 INTERFACE)
  add_library(CLI11::CLI11 ALIAS kx_cli11)
endif()

pkg_check_modules(CURL QUIET IMPORTED_TARGET libcurl)
pkg_check_modules(QRENCODE QUIET IMPORTED_TARGET libqrencode)
pkg_check_modules(SDBUSCPP QUIET IMPORTED_TARGET sdbus-c++)
pkg_check_modules(X11LIBS QUIET IMPORTED_TARGET x11 xtst xrandr)
pkg_check_modules(DNSSD QUIET IMPORTED_TARGET avahi-compat-libdns_sd)
# Installed applications: collation of their names, desktop entries through GIO, icons drawn with Qt,
# the icon theme's name from XSETTINGS.
pkg_check_modules(ICUI18N REQUIRED IMPORTED_TARGET icu-i18n)
pkg_check_modules(GIO QUIET IMPORTED_TARGET gio-unix-2.0)
pkg_check_modules(XCB QUIET IMPORTED_TARGET xcb)
find_package(Qt6 QUIET COMPONENTS Gui Svg)
# The system family: PulseAudio's client, and X's power management (DPMS) and screen saver.
pkg_check_modules(PULSE QUIET IMPORTED_TARGET libpulse)
pkg_check_modules(XEXT QUIET IMPORTED_TARGET x11 xext xscrnsaver)

if(KX_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(KX_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
