# The include check against small trees, each with one include of a kind
# the layering forbids, and one tree whose includes are all allowed: the
# check must fail on each bad tree, name the file and line, and pass the
# good one.
#
# Usage: cmake -DCHECK=<check_includes.cmake> -DWORK=<scratch folder> -P check_includes_rejects.cmake

cmake_minimum_required(VERSION 3.25)

set(failures 0)

# run_case(NAME EXPECT FILE TEXT [FILE TEXT ...]): writes the files into a
# fresh tree and runs the check on it. EXPECT is "pass" or the text the
# failing check must print.
function(run_case name expect)
  set(root ${WORK}/${name})
  file(REMOVE_RECURSE ${root})
  set(args ${ARGN})
  while(args)
    list(POP_FRONT args path text)
    file(WRITE ${root}/${path} "${text}\n")
  endwhile()
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -P ${CHECK}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(out "${out}${err}")
  if(expect STREQUAL "pass")
    if(NOT rc EQUAL 0)
      message("FAIL ${name}: an allowed tree was refused:\n${out}")
      math(EXPR failures "${failures} + 1")
    endif()
  else()
    string(FIND "${out}" "${expect}" at)
    if(rc EQUAL 0 OR at EQUAL -1)
      message("FAIL ${name}: expected a failure naming \"${expect}\", got rc ${rc}:\n${out}")
      math(EXPR failures "${failures} + 1")
    endif()
  endif()
  set(failures ${failures} PARENT_SCOPE)
endfunction()

run_case(shared_includes_backend "forcecore/kernels.h:2: shared includes \"forcecore/host/lanes.h\""
  forcecore/kernels.h "#pragma once\n#include \"forcecore/host/lanes.h\"")
run_case(backend_includes_sibling "forcecore/host/block_host.h:1: host includes \"forcecore/cuda/block_device.h\""
  forcecore/host/block_host.h "#include \"forcecore/cuda/block_device.h\"")
run_case(isa_includes_library "forcecore/isa/isa_select.cpp:1: isa includes \"forcecore/library/library.h\""
  forcecore/isa/isa_select.cpp "#include \"forcecore/library/library.h\"")
run_case(forcecore_includes_order "forcecore/library/library.h:1: library includes \"nbforce4/order4.h\""
  forcecore/library/library.h "#include \"nbforce4/order4.h\"")
run_case(order_includes_other_order "nbforce6/order6.h:1: nbforce6 includes \"nbforce8/order8.h\""
  nbforce6/order6.h "#include \"nbforce8/order8.h\"")
run_case(public_includes_forcecore "include/nbforce/nbforce4.h:1: public includes \"forcecore/ds.h\""
  include/nbforce/nbforce4.h "#include \"forcecore/ds.h\"")
run_case(program_includes_forcecore "hermite/integrator.h:1: program includes \"forcecore/split.h\""
  hermite/integrator.h "#include \"forcecore/split.h\"")
run_case(relative_include "forcecore/host/tile_copy.h:1: \"lanes.h\" is not written from the root"
  forcecore/host/tile_copy.h "# include \"lanes.h\"")
run_case(integrator_includes_fields "hermite/core.h:1: hermite/ includes \"bound_mass.h\" of fields/"
  fields/bound_mass.h "#pragma once" hermite/core.h "#include \"bound_mass.h\"")
run_case(allowed pass
  forcecore/host/lanes.h "#include <vector>\n#include \"forcecore/split.h\"\n#include \"nbforce_common.h\""
  forcecore/library/launch.h "#include \"forcecore/host/lanes.h\"\n#include \"forcecore/cuda/block_device.h\""
  nbforce4/nbforce4.cpp "#include \"forcecore/library/library.h\"\n#include \"nbforce4/order4.h\""
  programs/program.h "#include \"model.h\"\n#include \"nbforce4.h\"\n#include \"bound_mass.h\"\n// #include \"forcecore/ds.h\" in a comment"
  fields/bound_mass.h "#include \"scheme.h\""
  tests/anything.cpp "#include \"forcecore/host/block_host.h\"")

if(failures GREATER 0)
  message(FATAL_ERROR "check_includes_rejects: ${failures} case(s) failed")
endif()
message("check_includes_rejects: every case as expected")
