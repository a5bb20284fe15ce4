# The tests, the benchmarks and the power-cut test need libraries that the product does not:
# each such part is ON (its libraries required), OFF, or AUTO (the default: built where its
# libraries are found, else skipped with one line that says what is missing).
function(quelvane_part_option name description)
  set(${name} AUTO CACHE STRING "${description}: ON, OFF or AUTO (where its libraries are found)")
  set_property(CACHE ${name} PROPERTY STRINGS ON OFF AUTO)
endfunction()

# Sets `result` in the caller to whether the part under `option` is built, given whether what it
# needs was `found`.
function(quelvane_part_wanted result option found what missing)
  if(${option} STREQUAL "AUTO")
    if(found)
      set(${result} TRUE PARENT_SCOPE)
    else()
      message(STATUS "quelvane: ${what} skipped: ${missing} not found (${option}=OFF hides this)")
      set(${result} FALSE PARENT_SCOPE)
    endif()
  elseif(${option})
    if(NOT found)
      message(FATAL_ERROR "quelvane: ${what} asked for (${option}=ON), but ${missing} not found")
    endif()
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()
