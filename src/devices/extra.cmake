# The device code calls the vendor libraries through their binary interface and loads them at run time.
target_link_libraries(tmcore PUBLIC vq_api)
add_dependencies(tmcore vq hexlane)
