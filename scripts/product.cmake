# The product's subsystem libraries for the separate projects under fuzz/ and
# bench/, which build the same sources with their own compiler and flags.
# Each folder's sources (main.cpp aside) become the static library
# product_<folder>; a folder without sources yet gives an empty interface.
get_filename_component(PRODUCT_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)

function(product_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${PRODUCT_ROOT}/${name}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(product_${name} STATIC ${sources})
    target_include_directories(product_${name} PUBLIC ${PRODUCT_ROOT})
    target_link_libraries(product_${name} PUBLIC ${ARGN})
  else()
    add_library(product_${name} INTERFACE)
    target_include_directories(product_${name} INTERFACE ${PRODUCT_ROOT})
    target_link_libraries(product_${name} INTERFACE ${ARGN})
  endif()
endfunction()

find_package(OpenSSL 3 REQUIRED)

product_library(support)
product_library(channel product_support OpenSSL::SSL OpenSSL::Crypto)
product_library(netaddr product_support resolv)
product_library(ldap product_channel product_support)
product_library(addressbook product_ldap product_channel product_netaddr product_support)
