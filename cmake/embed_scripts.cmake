# Built-in Lua scripts: tools/embed_scripts turns data/builtin/*.lua into the
# zlib blocks of the game's built-in table (generated/mods_embed_data.h, read
# by src/mods/mods_misc.cpp). A script too long for the game's inflate buffer
# fails the build here.
#
# Include after the `zentar_mods` target exists; included earlier (for example
# through CMAKE_PROJECT_INCLUDE) it waits for the end of the top directory.

function(z2_embed_scripts)
  if(NOT TARGET zentar_mods OR TARGET embed_scripts)
    return()
  endif()
  # Table order is fixed; scripts not written yet are left out.
  set(names mod_map.lua mod_api.lua mod_util.lua mod_json.lua mod_play.lua)
  set(scripts "")
  foreach(n ${names})
    if(EXISTS ${CMAKE_SOURCE_DIR}/data/builtin/${n})
      list(APPEND scripts ${CMAKE_SOURCE_DIR}/data/builtin/${n})
    endif()
  endforeach()
  set(out_dir ${CMAKE_BINARY_DIR}/generated)
  set(out ${out_dir}/mods_embed_data.h)
  add_executable(embed_scripts ${CMAKE_SOURCE_DIR}/tools/embed_scripts.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
    COMMAND embed_scripts ${out} ${scripts}
    DEPENDS embed_scripts ${scripts}
    COMMENT "Embedding built-in scripts"
    VERBATIM)
  target_sources(zentar_mods PRIVATE ${out})
  target_include_directories(zentar_mods PRIVATE ${out_dir})
  # The list of scripts is read at configure time: adding one re-runs CMake.
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/builtin)
endfunction()

if(TARGET zentar_mods)
  z2_embed_scripts()
else()
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL z2_embed_scripts)
endif()
