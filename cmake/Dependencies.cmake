# Debian packages the build links against; scripts/setup installs them.
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(simdjson CONFIG REQUIRED)
find_package(pugixml CONFIG REQUIRED)
find_package(fmt CONFIG REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(PANGO REQUIRED IMPORTED_TARGET pangocairo pangoft2 fontconfig)
pkg_check_modules(GRAPHICS_CODECS REQUIRED IMPORTED_TARGET libpng libwebp libwebpdemux libtiff-4)
find_package(JPEG REQUIRED)
pkg_check_modules(LIBRTMP REQUIRED IMPORTED_TARGET librtmp)
# The software H.264 and AAC encoders and the pixel conversion behind platform/media (also the tests'
# decoders).
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavcodec libavutil libswscale)
find_package(GIF REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(ZLIB REQUIRED)
# The HTTP peer of the tests, of the image loader's benchmark and of the development service (so found
# with tests off too). Debian builds cpp-httplib as a shared library; its pkg-config flags select the
# matching declarations.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
if(LIVEAPP_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()
if(LIVEAPP_BENCH)
    find_package(benchmark REQUIRED)
    # The JSON libraries the JSON benchmark compares with (header-only).
    find_package(RapidJSON CONFIG REQUIRED)
    find_package(nlohmann_json CONFIG REQUIRED)
endif()
# The socket benchmarks' asio peer: header-only, standalone (no Boost).
if(LIVEAPP_BENCH)
    find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
endif()
