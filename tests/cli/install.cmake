# `cmake --install` puts kova, kovac and the system library under a prefix,
# and the installed compiler finds its library there.
#   cmake -DBUILD=... -DWORK=... -DSOURCE=<a Kova source> -P install.cmake
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}
                OUTPUT_QUIET RESULT_VARIABLE status)
foreach(file bin/kova bin/kovac share/kova/system.kova)
  if(NOT status EQUAL 0 OR NOT EXISTS ${WORK}/${file})
    message(FATAL_ERROR "cmake --install (status ${status}) did not install ${file}")
  endif()
endforeach()
execute_process(COMMAND ${WORK}/bin/kovac ${SOURCE} -o ${WORK}/program.ast RESULT_VARIABLE status
                ERROR_VARIABLE err)
execute_process(COMMAND ${WORK}/bin/kova -q -t 10 ${WORK}/program.ast OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out MATCHES "EXIT \\(SUCCESS\\)")
  message(FATAL_ERROR "the installed tools failed (${status}):\n${err}\n${out}")
endif()
