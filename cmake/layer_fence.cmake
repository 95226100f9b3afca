# The layer fence: include roots that show a target only what it may use, and
# a check of every compile of the fenced targets for what it really opened.
#
# An include root is a view: a folder of links in the build tree, so that a
# root exposes only the folders linked into it (the project root is on no
# include path). Relative paths still resolve beside the including file
# whatever the roots are, and ".." after a link climbs from the link's target,
# so every compile of a fenced target also goes through layer_fence.sh, which
# reads the compiler's dependency file and refuses any file opened in a
# forbidden folder.

# z2_include_view(<view> <link> <target> [<link> <target>]...)
# Makes <view>/<link> a link to <target> for each pair (<link> may have a
# folder part, "ext/lua"); links of an older set at the top of the view go
# (file(REMOVE) takes the link, not its target).
function(z2_include_view view)
  file(MAKE_DIRECTORY ${view})
  set(tops "")
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs link target)
    string(REGEX REPLACE "/.*" "" top ${link})
    list(APPEND tops ${top})
    get_filename_component(parent ${view}/${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(IS_SYMLINK ${view}/${link})
      file(READ_SYMLINK ${view}/${link} old)
      if(NOT old STREQUAL target)
        file(REMOVE ${view}/${link})
      endif()
    endif()
    if(NOT IS_SYMLINK ${view}/${link})
      file(CREATE_LINK ${target} ${view}/${link} SYMBOLIC)
    endif()
  endwhile()
  file(GLOB entries ${view}/*)
  foreach(entry ${entries})
    get_filename_component(name ${entry} NAME)
    if(IS_SYMLINK ${entry} AND NOT name IN_LIST tops)
      file(REMOVE ${entry})
    endif()
  endforeach()
endfunction()

# z2_layer_fence(<target> <name> <rule> <forbidden folder>...)
# Every C++ compile of <target> is checked: a file it opens inside one of the
# forbidden folders fails that compile with "<rule>". Runs after any launcher
# the build was configured with.
function(z2_layer_fence target name rule)
  set(dirs "")
  foreach(d ${ARGN})
    file(REAL_PATH ${d} real)
    list(APPEND dirs ${real})
  endforeach()
  set_property(TARGET ${target} PROPERTY CXX_COMPILER_LAUNCHER
    bash ${CMAKE_SOURCE_DIR}/cmake/layer_fence.sh ${name} ${rule} ${dirs} -- ${CMAKE_CXX_COMPILER_LAUNCHER})
endfunction()
