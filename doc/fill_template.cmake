# Fills a template from the output of gen_reference; run at build time with cmake -P.
#
#   -DGENERATOR=path of gen_reference
#   -DTEMPLATE=the .in file   -DOUTPUT=the file to write
#   -DFILL=VAR:mode,VAR:mode  each @VAR@ becomes what `gen_reference mode` prints
#   any further -D variables (PROJECT_VERSION, BRT_SYSTEM_PREFS_DIR, BRT_MANAGED_PREFS_DIR)
#   are substituted as well
foreach(required GENERATOR TEMPLATE OUTPUT FILL)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "fill_template.cmake needs -D${required}=...")
  endif()
endforeach()

string(REPLACE "," ";" fills "${FILL}")
foreach(fill IN LISTS fills)
  string(REPLACE ":" ";" pair "${fill}")
  list(GET pair 0 variable)
  list(GET pair 1 mode)
  execute_process(COMMAND "${GENERATOR}" ${mode}
                  OUTPUT_VARIABLE ${variable}
                  RESULT_VARIABLE status
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gen_reference ${mode} failed: ${status}")
  endif()
endforeach()

# Honours SOURCE_DATE_EPOCH, so a reproducible build gets a reproducible page.
string(TIMESTAMP MAN_DATE "%Y-%m-%d" UTC)
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
# configure_file keeps an unchanged file as it was; touch it so the build sees it as new.
file(TOUCH "${OUTPUT}")
