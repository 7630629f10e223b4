#include "pack/stream_modeller.h"

// Stand-in until the Vorbis stream codec is part of the build: it cannot model anything, so every
// stream is stored raw and archives stay exact.

struct StreamModeller {
    uint8_t flags = 0;
};

StreamModeller* create_stream_modeller(uint8_t flags) {
    return new StreamModeller{flags};
}

void destroy_stream_modeller(StreamModeller* modeller) {
    delete modeller;
}

bool stream_modelling_available() {
    return false;
}

bool repeat_items_available() {
    return false;
}

bool header_copies_available() {
    return false;
}

bool model_stream_item(StreamModeller&, ArchiveWriter&, const PageSpan*, size_t, const StreamChoices&,
                       StreamOutcome& outcome, std::string& why) {
    outcome = {};
    why = "this build cannot model Vorbis streams";
    return false;
}

bool model_repeat_item(StreamModeller&, ArchiveWriter&, uint32_t, uint32_t) {
    return false;
}
