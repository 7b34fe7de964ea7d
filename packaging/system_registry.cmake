# Writes the communication server's registration as an installed package
# holds it: regsvr registers the built MODULE in a scratch configuration
# folder, and the module's folder is replaced by INSTALLED_DIR.
#   cmake -DREGSVR=... -DMODULE=... -DINSTALLED_DIR=... -DOUTPUT=... -P system_registry.cmake
foreach(variable REGSVR MODULE INSTALLED_DIR OUTPUT)
  if(NOT ${variable})
    message(FATAL_ERROR "system_registry.cmake needs -D${variable}=")
  endif()
endforeach()
get_filename_component(scratch ${OUTPUT} DIRECTORY)
set(scratch ${scratch}/scratch)
file(REMOVE_RECURSE ${scratch})
file(MAKE_DIRECTORY ${scratch})
execute_process(COMMAND ${CMAKE_COMMAND} -E env XDG_CONFIG_HOME=${scratch} XDG_CONFIG_DIRS=${scratch}/none
                        ${REGSVR} ${MODULE}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "regsvr ${MODULE} failed")
endif()
file(READ ${scratch}/quorlink/registry text)
get_filename_component(module_dir ${MODULE} DIRECTORY)
file(REAL_PATH ${module_dir} module_dir)
string(FIND "${text}" "\"${module_dir}/" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the registration does not name ${module_dir}")
endif()
# Quoted values only: the folder alone (HELPDIR) and the module's path.
string(REPLACE "\"${module_dir}/" "\"${INSTALLED_DIR}/" text "${text}")
string(REPLACE "\"${module_dir}\"" "\"${INSTALLED_DIR}\"" text "${text}")
string(FIND "${text}" "${module_dir}" left)
if(NOT left EQUAL -1)
  message(FATAL_ERROR "the registration still names the build folder ${module_dir}")
endif()
file(WRITE ${OUTPUT} "${text}")
file(REMOVE_RECURSE ${scratch})
