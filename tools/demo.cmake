# The main job on the bundled images, run by `cmake --workflow --preset demo`.
# Every step runs in a folder of its own under OUT, because sieve writes
# fixed file names into its working directory.

function(run_step dir)
  file(MAKE_DIRECTORY ${dir})
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${dir}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(APPEND ${dir}/log.txt "${out}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "step failed in ${dir}: ${ARGN}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${OUT})

# 1. Hole filling: seeds on the frame, basins filled globally.
run_step(${OUT}/fill ${SOWER} ${DATA}/coins.pgm frame.txt frame 0)
run_step(${OUT}/fill ${SIEVE} ${DATA}/coins.pgm ${DATA}/coins.pgm 0 1 frame.txt)

# 2. Flagship: seeds on the bright regional maxima, every dome without one cut
#    at its pass (coins with no point as bright as 230 go entirely); the labels
#    show which maximum conquered each pixel.
run_step(${OUT}/domes ${SOWER} ${DATA}/coins.pgm maxima.txt regMax 230 255)
run_step(${OUT}/domes ${SIEVE} ${DATA}/coins.pgm ${DATA}/coins.pgm 1 1 maxima.txt)
run_step(${OUT}/domes ${OVERLAY} changes ${DATA}/coins.pgm filtered.pgm changes.ppm)
run_step(${OUT}/domes ${OVERLAY} borders ${DATA}/coins.pgm labels.pgm borders.ppm)

# The picture to open first: the coins, the cut result with what it visibly
# removed in red, and each seed's zone in a colour of its own with the seeds.
run_step(${OUT}/domes ${OVERLAY} panels ${DATA}/coins.pgm filtered.pgm labels.pgm ${OUT}/overview.ppm maxima.txt)

message(STATUS "Results (open overview.ppm first):")
message(STATUS "  ${OUT}/overview.ppm        input | domes cut, visible changes in red | seeds' zones and borders")
message(STATUS "  ${OUT}/fill/filtered.pgm   coins with their dark holes filled from the frame")
message(STATUS "  ${OUT}/domes/maxima.txt    seeds: regional maxima of coins in [230, 255]")
message(STATUS "  ${OUT}/domes/filtered.pgm  coins with every dome that holds no seed cut off")
message(STATUS "  ${OUT}/domes/changes.ppm   the pixels the cut visibly changed, in red")
message(STATUS "  ${OUT}/domes/labels.pgm    which seed conquered each pixel")
message(STATUS "  ${OUT}/domes/borders.ppm   the borders between the seeds' zones, in red")
