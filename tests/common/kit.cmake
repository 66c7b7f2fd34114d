# The test kit, tests/common: a BER writer and reader, a fake LDAP server
# (scripted, or answering every request), loopback sockets, a private slapd,
# a child-process driver, a fake DNS server. The tests, the fuzz targets and
# the benchmarks include this file (after scripts/product.cmake) and link
# testkit; headers are included as "common/...".
find_package(Threads REQUIRED)
file(GLOB kit_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_library(testkit STATIC ${kit_sources})
get_filename_component(kit_parent ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
target_include_directories(testkit PUBLIC ${kit_parent})
target_compile_definitions(testkit PUBLIC SOURCE_DIR="${PRODUCT_ROOT}")
target_link_libraries(testkit PUBLIC support OpenSSL::SSL Threads::Threads)
