# The product: one static library per subsystem folder, linked downwards
# only, and the extern_book service. The root build, the fuzz targets and
# the benchmarks all include this file and build the same sources, each with
# its own compiler and flags. Each folder's sources (main.cpp aside) make
# the library named after it; a folder without sources yet gives an empty
# interface.
get_filename_component(PRODUCT_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

function(product_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${PRODUCT_ROOT}/${name}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  set(scope PUBLIC)
  if(sources)
    add_library(${name} STATIC ${sources})
  else()
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  # Every header is included by its folder: "support/nlib.h", "ldap/ldap.h", ...
  target_include_directories(${name} ${scope} ${PRODUCT_ROOT})
  target_link_libraries(${name} ${scope} ${ARGN})
endfunction()

find_package(OpenSSL 3 REQUIRED)

product_library(support)
product_library(channel support ${CMAKE_DL_LIBS})
# OpenSSL is loaded when TLS is first used (chan_openssl.h): only its headers here.
target_include_directories(channel PRIVATE ${OPENSSL_INCLUDE_DIR})
product_library(netaddr support resolv)
product_library(ldap channel support)
product_library(addressbook ldap channel netaddr support)

# Built in addressbook/ of the build folder, beside its library.
add_executable(extern_book ${PRODUCT_ROOT}/addressbook/main.cpp)
target_link_libraries(extern_book PRIVATE addressbook)
set_target_properties(extern_book PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/addressbook)
# The C and C++ support runtimes are linked into the service: the host may
# start it often, and mapping the shared ones cost about 1.4 MB of resident
# memory and 2.5 ms of CPU time at each start. Sanitizer builds keep them
# shared, as their run-time libraries expect.
if(NOT SANITIZE)
  target_link_options(extern_book PRIVATE -static-libstdc++ -static-libgcc)
endif()
