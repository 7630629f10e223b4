#pragma once

// The three Vorbis header packets of a logical stream, in both directions: the identification header
// field by field, the comment header as text bytes, the setup header field by field with every check,
// filling the stream's VorbisSetup on the way (the setup steers which fields follow). A comment and
// setup header set that an earlier stream already had is copied from the header store instead and
// replayed to fill the setup.

#include "vorbis/vorbis_context.h"

// `data` codes the header fields, `control` the header-set decisions. Precondition: rebuild mode, the
// stream's first page next. True with ctx.setup complete; false on any failure (packing: also when the
// stream cannot be expressed, with ctx.inexpressible set).
template <class Dir> bool code_vorbis_headers(Dir& data, Dir& control, VorbisContext& ctx);
