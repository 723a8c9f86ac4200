# Installs the build tree into a fresh prefix and checks that every installed file is there.
# -DBUILD_DIR=<build tree> -DWORK_DIR=<scratch folder>
set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${prefix}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
set(expected
    bin/tarnwick
    bin/tarnwick-hack
    libexec/xscreensaver/tarnwick-hack
    share/xscreensaver/config/tarnwick.xml
    share/xscreensaver/config/tarnwick-hack.xml
    share/applications/tarnwick.desktop
    share/applications/screensavers/tarnwick.desktop
    share/man/man6/tarnwick.6.gz
    share/man/man6/tarnwick-hack.6.gz
    share/doc/tarnwick/copyright
    share/doc/tarnwick/changelog.gz)
foreach(f ${expected})
  if(NOT EXISTS "${prefix}/${f}")
    message(FATAL_ERROR "missing from the installed tree: ${f}")
  endif()
endforeach()
foreach(f bin/tarnwick bin/tarnwick-hack libexec/xscreensaver/tarnwick-hack)
  if(IS_DIRECTORY "${prefix}/${f}")
    message(FATAL_ERROR "not a program: ${f}")
  endif()
  execute_process(COMMAND test -x "${prefix}/${f}" RESULT_VARIABLE notExecutable)
  if(notExecutable)
    message(FATAL_ERROR "not executable: ${f}")
  endif()
endforeach()
# The daemon runs the hack from its own folder: that copy must be the program itself.
execute_process(COMMAND "${prefix}/libexec/xscreensaver/tarnwick-hack" -zoom 7
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "-zoom")
  message(FATAL_ERROR "the installed hack did not refuse a bad option: ${rc} ${err}")
endif()
file(READ "${prefix}/share/xscreensaver/config/tarnwick.xml" xml)
foreach(arg "-root" "-cycle %" "-delay %" "-zoom-percent %" "-path drunken" "-sounds" "-desktop blur"
            "-images %")
  string(FIND "${xml}" "${arg}" at)
  if(at LESS 0)
    message(FATAL_ERROR "tarnwick.xml lacks ${arg}")
  endif()
endforeach()
file(REMOVE_RECURSE "${prefix}")
