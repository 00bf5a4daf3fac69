# Writes a manual page from a program's own --help and --version:
#   cmake -DPROGRAM=path -DSUMMARY=text [-DWITH_SUBCOMMANDS=ON] -DOUT=file.1 -P man_page.cmake
# writes file.1 and file.1.gz.
# With WITH_SUBCOMMANDS, the --help of every subcommand the program's help
# lists becomes a section of its own, so the page says everything the
# program's help says and nothing is written twice.
set(include_file ${OUT}.h2m)
file(WRITE ${include_file} "[SEE ALSO]\nThe README in /usr/share/doc/vexel.\n")
set(SUBCOMMANDS)
if(WITH_SUBCOMMANDS)
  execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help)
  string(REGEX REPLACE ".*\nSUBCOMMANDS:\n" "" listed "${help}")
  string(REGEX MATCHALL "(^|\n)  [a-z][a-z-]*" names "${listed}")
  foreach(name ${names})
    string(STRIP "${name}" name)
    list(APPEND SUBCOMMANDS ${name})
  endforeach()
  if(NOT SUBCOMMANDS)
    message(FATAL_ERROR "${PROGRAM} --help lists no subcommands")
  endif()
endif()
foreach(sub ${SUBCOMMANDS})
  execute_process(COMMAND ${PROGRAM} ${sub} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${sub} --help failed")
  endif()
  # Verbatim roff: backslashes escaped, no line read as a request.
  string(REPLACE "\\" "\\e" help "${help}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
  string(TOUPPER "${sub}" title)
  file(APPEND ${include_file} "[COMMAND ${title}]\n.nf\n${help}.fi\n")
endforeach()
execute_process(COMMAND help2man --no-info --no-discard-stderr --name=${SUMMARY} --include=${include_file}
                        --output=${OUT} ${PROGRAM}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}")
endif()
# Installed compressed, as manual pages are.
execute_process(COMMAND gzip -9 -n -f -k ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${OUT}")
endif()
