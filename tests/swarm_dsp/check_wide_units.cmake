# Fails unless each unit compiled for a wider instruction set (OBJECTS, the objects of swarm_dsp)
# defines exactly one external symbol, its entry point. Anything else it defined (an inline
# function, a template instance) could stand in at link time for the baseline copy and run wide
# instructions on a processor without them. The 32-bit build's program-counter thunks
# (__x86.get_pc_thunk.*, a move and a return, the same in every unit) are left out.
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "wide_bank_")
    continue()
  endif()
  execute_process(COMMAND nm --defined-only --extern-only ${object} OUTPUT_VARIABLE out
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${out}")
  list(FILTER lines EXCLUDE REGEX "__x86\\.get_pc_thunk\\.")
  list(LENGTH lines count)
  if(NOT count EQUAL 1 OR NOT lines MATCHES "sumBankWide[48]")
    message(FATAL_ERROR "${object} defines: ${lines}")
  endif()
  set(checked TRUE)
endforeach()
if(NOT checked)
  message(FATAL_ERROR "no wide unit among ${OBJECTS}")
endif()
