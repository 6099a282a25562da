# CALVORA_SANITIZE=ON builds the project with AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/sanitize.sh uses a build folder of its own for it).
option(CALVORA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(CALVORA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Takes the sanitizers off libraries that programs built without them load too (the virtual
# card's ALSA plugins, which amixer and arecord open): a sanitized library needs its runtime
# loaded first.
function(calvora_unsanitized)
  if(NOT CALVORA_SANITIZE)
    return()
  endif()
  foreach(target ${ARGN})
    foreach(property COMPILE_OPTIONS LINK_OPTIONS)
      get_target_property(options ${target} ${property})
      if(options)
        list(FILTER options EXCLUDE REGEX "sanitize|omit-frame-pointer")
        set_target_properties(${target} PROPERTIES ${property} "${options}")
      endif()
    endforeach()
  endforeach()
endfunction()
