#include "vorbis/vorbis_setup.h"

#include <utility>

void release_vorbis_setup(VorbisSetup& setup) {
    // Move-assigning a fresh setup frees every owned table at once and restores the start values.
    VorbisSetup empty;
    std::swap(setup, empty);
}
