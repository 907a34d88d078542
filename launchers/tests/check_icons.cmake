# Runs the icon generator into OUT and compares its files with the committed
# ones in ICONS.
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${PYTHON} ${ICONS}/make_icons.py ${OUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "make_icons.py failed: ${result}")
endif()
foreach(icon vont48.ico zendra48.ico)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/${icon} ${ICONS}/${icon}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "${icon} differs from what make_icons.py draws: run it and commit the result")
  endif()
endforeach()
