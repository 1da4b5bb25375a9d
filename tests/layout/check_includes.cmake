# Checks that includes run downward through the layers of the source tree:
#
#   include/nbforce/      the public headers                  nothing of the project
#   forcecore/            shared block-level code, records   the public headers
#   forcecore/host/       host backend                        the above
#   forcecore/cuda/       CUDA backend                        the above
#   forcecore/isa/        instruction-set check and dispatch  the above
#   forcecore/library/    assembly of a library               all of forcecore/
#   nbforce4/ ...         one order's records and library     forcecore/, its own folder
#   programs              hermite/, programs/, plummer/, ...  no forcecore/ at all
#                         (bench/ and gpucheck/ may use the tests' helpers)
#
# hermite/ includes nothing of fields/ (fields/ uses the integrator's
# scheme and hook). The three backend folders never include each other. Inside forcecore/
# every project include is written from the root ("forcecore/host/lanes.h"),
# so that the folder of each include can be read off its name.
#
# Usage: cmake -DROOT=<source tree> -P check_includes.cmake
# Prints one line per include that breaks the rule and fails if there is any.

cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
  message(FATAL_ERROR "check_includes: pass -DROOT=<source tree>")
endif()

# The layer of a path relative to ROOT, or "" where the rule says nothing.
function(layer_of path out)
  if(path MATCHES "^include/nbforce/")
    set(layer public)
  elseif(path MATCHES "^forcecore/(host|cuda|isa|library)/")
    set(layer ${CMAKE_MATCH_1})
  elseif(path MATCHES "^forcecore/[^/]+$")
    set(layer shared)
  elseif(path MATCHES "^(nbforce[0-9]+)/")
    set(layer ${CMAKE_MATCH_1})
  elseif(path MATCHES "^(hermite|programs|plummer|python|examples|bench|gpucheck)/")
    set(layer program)
  else()
    set(layer "")
  endif()
  set(${out} ${layer} PARENT_SCOPE)
endfunction()

# The layers a file of `layer` may include.
function(allowed_for layer out)
  set(forcecore shared host cuda isa library)
  if(layer STREQUAL "public")
    set(allowed public)
  elseif(layer STREQUAL "shared")
    set(allowed public shared)
  elseif(layer MATCHES "^(host|cuda|isa)$")
    set(allowed public shared ${layer})
  elseif(layer STREQUAL "library")
    set(allowed public ${forcecore})
  elseif(layer MATCHES "^nbforce")
    set(allowed public ${forcecore} ${layer})
  else()
    set(allowed public)
  endif()
  set(${out} ${allowed} PARENT_SCOPE)
endfunction()

set(violations 0)
file(GLOB_RECURSE sources RELATIVE ${ROOT}
  ${ROOT}/include/*.h ${ROOT}/forcecore/*.h ${ROOT}/forcecore/*.c ${ROOT}/forcecore/*.cpp
  ${ROOT}/forcecore/*.cu ${ROOT}/nbforce*/*.h ${ROOT}/nbforce*/*.cpp ${ROOT}/nbforce*/*.cu
  ${ROOT}/hermite/*.h ${ROOT}/hermite/*.cc ${ROOT}/hermite/*.cpp ${ROOT}/programs/*.h
  ${ROOT}/programs/*.cc ${ROOT}/plummer/*.h
  ${ROOT}/plummer/*.cc ${ROOT}/plummer/*.cpp ${ROOT}/python/*.h ${ROOT}/python/*.cc
  ${ROOT}/examples/*.c ${ROOT}/examples/*.cc ${ROOT}/bench/*.h ${ROOT}/bench/*.cc
  ${ROOT}/gpucheck/*.h ${ROOT}/gpucheck/*.cpp ${ROOT}/gpucheck/*.cu)
list(SORT sources)
foreach(source ${sources})
  layer_of(${source} from)
  if(from STREQUAL "")
    continue()
  endif()
  allowed_for(${from} allowed)
  file(STRINGS ${ROOT}/${source} lines)
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
      continue()
    endif()
    set(target ${CMAKE_MATCH_1})
    if(target MATCHES "^nbforce[a-z0-9_]*\\.h$")
      set(to public)  # include/nbforce is on the include path
    elseif(target MATCHES "^forcecore/" OR
           (target MATCHES "^nbforce[0-9]+/" AND NOT from STREQUAL "program"))
      layer_of(${target} to)
    elseif(from MATCHES "^(public|shared|host|cuda|isa|library)$")
      message("${source}:${number}: \"${target}\" is not written from the root of the tree")
      math(EXPR violations "${violations} + 1")
      continue()
    else()
      # The integrator knows external fields only through its own hook
      # (external_field.h); fields/ builds on the integrator's headers, and
      # programs/ puts the two together.
      if(source MATCHES "^hermite/" AND NOT target MATCHES "/" AND EXISTS ${ROOT}/fields/${target}
         AND NOT EXISTS ${ROOT}/hermite/${target})
        message("${source}:${number}: hermite/ includes \"${target}\" of fields/, which builds on it")
        math(EXPR violations "${violations} + 1")
      endif()
      continue()  # a file of the program's own folder
    endif()
    if(NOT to IN_LIST allowed)
      message("${source}:${number}: ${from} includes \"${target}\" (${to}), which lies above it")
      math(EXPR violations "${violations} + 1")
    endif()
  endforeach()
endforeach()

list(LENGTH sources scanned)
if(violations GREATER 0)
  message(FATAL_ERROR "check_includes: ${violations} include(s) against the layering")
endif()
message("check_includes: ${scanned} files, every include runs downward")
