#pragma once

// The map of the model space: where every adaptive probability of the archive format lives.
//
//   ModelArea      55 value models (value_model.h), by record number
//   value model    4,090 probabilities per record: zero flag, sign, class trees, mantissa tables
//   control_probs  18 probabilities of the control sub-stream
//   packet_probs   598,620 shared entries, then one block of 283,648 entries per codebook model slot,
//                  then spare entries after the last block
//
// The format fixes every base and stride here: an archive is decoded with exactly these contexts. A
// tree rooted at R uses the entries R + 1 .. R + 2^n - 1 (R + node); a flag at R uses R + 1. Some
// contexts overlap on purpose; the overlaps are part of the format and noted where they occur, so no
// region may be moved apart from another or given room of its own.

#include <cstddef>
#include <cstdint>

// 1. ModelArea records.
enum ModelRecord : int {
    // Page headers (the page layer).
    kModelHeaderType = 0,
    kModelGranuleLow = 1,
    kModelGranuleHigh = 2,
    kModelSerial = 3, // also the repeat item's serial number
    kModelSequence = 4,
    kModelPacketCount = 5,
    kModelPacketLength = 6,
    // The cut final codeword of an audio packet.
    kModelTruncatedBits = 7,
    kModelTruncatedCode = 8,
    // Identification header.
    kModelChannels = 9,
    kModelSampleRate = 10,
    kModelBitrateMaximum = 11,
    kModelBitrateNominal = 12,
    kModelBitrateMinimum = 13,
    kModelBlockSizes = 14,
    kModelIdentificationFraming = 15,
    // Setup header: codebooks.
    kModelCodebookCount = 16,
    kModelCodebookDimensions = 17,
    kModelCodebookEntries = 18,
    kModelFirstCodewordLength = 19, // ordered books
    kModelCodewordRun = 20,         // ordered books: entries of one length
    kModelCodewordLength = 21,
    kModelValueBits = 22,
    kModelLookupValue = 23,
    kModelTimeCount = 24,
    // Setup header: floors.
    kModelFloorCount = 25,
    kModelFloorPartitions = 26,
    kModelPartitionClass = 27,
    kModelMasterbook = 28,
    kModelSubclassBook = 29,
    kModelFloorX = 30,
    // Setup header: residues.
    kModelResidueCount = 31,
    kModelResidueBegin = 32,
    kModelResidueEnd = 33,
    kModelPartitionSize = 34,
    kModelClassifications = 35,
    kModelCascade = 36,
    kModelResidueBook = 37, // the class book and the books of every pass
    // Setup header: mappings and modes.
    kModelMappingCount = 38,
    kModelSubmaps = 39,
    kModelCouplingSteps = 40,
    kModelCouplingChannel = 41, // magnitude and angle
    kModelChannelMux = 42,
    kModelSubmapTime = 43,
    kModelSubmapFloor = 44,
    kModelSubmapResidue = 45,
    kModelModeCount = 46,
    kModelModeMapping = 47,
    // Codebook floats: mantissa, and the exponents of the minimum (50) and the delta value (51).
    kModelFloatMantissa = 48,
    kModelUnused49 = 49,
    kModelFloatExponent = 50,
    // Store indices: these two keep their statistics from stream to stream.
    kModelStreamStoreIndex = 52,
    kModelHeaderStoreIndex = 53,
    kModelUnused54 = 54,
};
constexpr int kModelAreaRecords = 55;
// Records below this one are reset with every stream (unless statistics carry over).
constexpr int kModelsResetPerStream = kModelStreamStoreIndex;

// 2. Inside a value model.
constexpr int kValueZeroFlagProbs = 0;    // + zero history (two bits)
constexpr int kValueSignProbs = 4;        // + sign history (one or two bits)
constexpr int kValueClassTreeProbs = 20;  // + last class x 2^B: a tree of B class bits
constexpr int kValueMantissaProbs = 1044; // + class x table size (one table per class), a history tree
constexpr int kValueModelProbs = 4090;
// With five class bits the tree of last class 32 starts at entry 20 + 32 x 32 = 1044: it shares its
// probabilities with the mantissa tables.
static_assert(kValueClassTreeProbs + 32 * 32 == kValueMantissaProbs);

// 3. The control sub-stream.
constexpr int kControlSpecialProbs = 0; // + the previous item's special bit
constexpr int kControlRepeatProb = 2;
constexpr int kControlRememberProb = 6;
constexpr int kControlHeaderCopyProb = 10;
constexpr int kControlHeaderCaptureProb = 14;
constexpr int kControlProbCount = 18; // the others are unused

// 4. packet_probs, the shared part.
// Audio packet start: the mode number tree by context (page continued + 2 x last mode's low bit + 4 x
// last next-window flag), then the window flags.
constexpr int32_t kModeTreeProbs = 0;
constexpr int32_t kModeTreeStride = 64;
constexpr int32_t kModeContexts = 8;
constexpr int32_t kPreviousWindowProbs = 513; // + last next-window flag
constexpr int32_t kNextWindowProbs = 517;     // + last previous-window flag
// The terminating zero lacing value of a page's last packet whose length is a multiple of 255.
constexpr int32_t kTerminatingZeroProb = 520;
constexpr int32_t kTruncationProb = 524;
// Packet tails: "all zero", else byte by byte, a tree per high nibble of the byte before.
constexpr int32_t kTailFlagProb = 532;
constexpr int32_t kTailTreeProbs = 536;
constexpr int32_t kTailTreeStride = 256;
// Comment header text, a tree per high nibble of the byte before.
constexpr int32_t kCommentTreeProbs = 4632;
constexpr int32_t kCommentTreeStride = 256;
constexpr int32_t kByteContexts = 16;
// Setup header fields coded on their own roots.
constexpr int32_t kBookOrderedFlag = 8728;
constexpr int32_t kBookSparseFlag = 8730;
constexpr int32_t kBookEntryPresentFlags = 8732; // + context (2 for the first entry, else the last flag)
constexpr int32_t kBookLookupTypeTree = 8736;    // two levels
constexpr int32_t kBookSequenceFlag = 8740;
constexpr int32_t kFloorTypeFlag = 8742;
constexpr int32_t kFloorClassDimensionsTree = 8744; // three levels
constexpr int32_t kFloorSubclassesTree = 8752;      // two levels
constexpr int32_t kFloorMultiplierTree = 8756;      // two levels
constexpr int32_t kFloorRangeBitsTree = 8760;       // four levels
constexpr int32_t kResidueTypeTree = 8776;          // two levels
constexpr int32_t kModeBlockflagFlag = 8780;
constexpr int32_t kFloatSignProbs = 8784; // + which float (0 minimum, 1 delta); no root
// Floor 1 of audio packets, per channel and value.
constexpr int32_t kFloorNonzeroProbs = 8789; // + the last two nonzero flags
constexpr int32_t kFloorValueFlagProbs = 8796;
constexpr int32_t kFloorClassProbs = 74332;
constexpr int32_t kFloorMantissaProbs = 139868;
constexpr int32_t kFloorMantissaXStride = 8192;
// Residue class trees, per partition.
constexpr int32_t kResidueClassProbs = 402012;
constexpr int32_t kSharedPacketProbs = 598620;

// The nonzero flag of floor value X (of floor f) after the history h of the last two flags. The X
// stride 4 reaches the history stride 128 from X 32 on: contexts of different X and h coincide.
constexpr int32_t floor_value_flag_prob(int f, int x, int h) {
    return kFloorValueFlagProbs + f + 4 * x + 128 * h;
}
// The class tree (three levels) of floor value X after the class p last coded there. The X stride 32
// reaches the class stride 1024 from X 32 on.
constexpr int32_t floor_class_tree(int f, int x, int p) {
    return kFloorClassProbs + 8 * f + 32 * x + 1024 * p;
}
// Mantissa bit j (of k) of floor value X, after the history g of the last two bits. X positions from
// 32 on reach the residue class trees, and from 56 on the slot blocks (slot 0 first): those contexts
// are shared with them.
constexpr int32_t floor_mantissa_prob(int x, int f, int k, int j, int g) {
    return kFloorMantissaProbs + kFloorMantissaXStride * x + 32 * f + 132 * k - 4 - 4 * j + g;
}
// The class tree (four levels) of partition v of a residue (number mod 4: r4). Partitions from 6,144
// on reach the slot blocks.
constexpr int32_t residue_class_tree(int32_t v, int r4) {
    return kResidueClassProbs + 32 * v + 16 * r4;
}
static_assert(kFloorValueFlagProbs + 65536 == kFloorClassProbs, "the value flags have 65,536 entries");
static_assert(kFloorClassProbs + 65536 == kFloorMantissaProbs, "the class trees have 65,536 entries");
static_assert(kFloorMantissaProbs + 32 * kFloorMantissaXStride == kResidueClassProbs,
              "floor mantissa contexts of X 32 and more are the residue class trees");
static_assert(kFloorMantissaProbs + 56 * kFloorMantissaXStride == kSharedPacketProbs,
              "floor mantissa contexts of X 56 and more are in the slot blocks");
static_assert(residue_class_tree(6144, 0) == kSharedPacketProbs);
static_assert(kModeTreeProbs + kModeContexts * kModeTreeStride < kPreviousWindowProbs);
static_assert(kTailTreeProbs + kByteContexts * kTailTreeStride == kCommentTreeProbs);
static_assert(kCommentTreeProbs + kByteContexts * kCommentTreeStride == kBookOrderedFlag);
static_assert(kFloatSignProbs + 2 <= kFloorNonzeroProbs && kFloorNonzeroProbs + 4 <= kFloorValueFlagProbs);
static_assert(floor_value_flag_prob(3, 249, 3) < kFloorClassProbs &&
              floor_class_tree(3, 249, 7) + 7 < kFloorMantissaProbs);
static_assert(kSharedPacketProbs == 598620, "the format's shared entries");

// 5. A slot block of packet_probs: the residue value models of one codebook model slot. Arguments:
// r4 the residue number mod 4, lane min(channel, 3) (type 2) or 0, position the vector position, b its
// bit length, e the state left at the same place by the pass before (sign in bit 7, class below).
constexpr int32_t kSlotNonzeroProbs = 0;
constexpr int32_t kSlotSignProbs = 262144;
constexpr int32_t kSlotOneProbs = 270336;
constexpr int32_t kSlotClassTreeProbs = 278528;
constexpr int32_t kSlotMantissaProbs = 279552;
constexpr int32_t kSlotBlockProbs = 283648;
// After the last block: its mantissa contexts reach up to 127 entries past it (initialised and reset
// like the rest).
constexpr int32_t kSlotBlockSpareProbs = 256;

constexpr size_t slot_block_offset(int32_t slot) {
    return static_cast<size_t>(kSharedPacketProbs) + static_cast<size_t>(slot) * kSlotBlockProbs;
}
// The slot functions, like the coder's bit steps, are forced inline: the residue loops that use them
// are large enough that the compiler's per-file growth limits would otherwise decide it.
// Whether the value is nonzero, after the last lane-0 value's flag, whether e holds no class and whether
// the last value was coded under the same slot. This layout is the format's, not a choice of memory
// order: the mantissa contexts of classes 8 and 9 run past the end of a slot's block into these
// entries of the next slot (checked below), so another layout would share other contexts with them.
[[gnu::always_inline]] constexpr int32_t slot_nonzero_prob(int r4, int32_t position, int lane,
                                                           int last_nonzero, int no_class, int same_slot) {
    return kSlotNonzeroProbs + r4 + 32 * (position >> 2) + 4 * lane + 16 * last_nonzero + 65536 * no_class +
           131072 * same_slot;
}
[[gnu::always_inline]] constexpr int32_t slot_sign_prob(int r4, int lane, int sign_history, int last_nonzero,
                                                        int b, int e_sign, int empty) {
    return kSlotSignProbs + r4 + 4 * lane + 16 * sign_history + 64 * last_nonzero + 128 * b + 2048 * e_sign +
           4096 * empty;
}
// Whether the magnitude is 1.
[[gnu::always_inline]] constexpr int32_t slot_one_prob(int r4, int lane, int sign, int last_class, int b,
                                                       int empty) {
    return kSlotOneProbs + r4 + 4 * lane + 16 * sign + 32 * last_class + 256 * b + 4096 * empty;
}
// The class tree (three levels) of a magnitude of 2 or more. Those of last classes 8 and 9 run into the
// mantissa tables.
[[gnu::always_inline]] constexpr int32_t slot_class_tree(int r4, int lane, int last_class) {
    return kSlotClassTreeProbs + 8 * r4 + 32 * lane + 128 * last_class;
}
// The mantissa table of class k, entered at the low two bits of the value so far.
[[gnu::always_inline]] constexpr int32_t slot_mantissa_table(int r4, int lane, int k, int last_class) {
    return kSlotMantissaProbs + 4 * r4 + 16 * lane + 512 * k + 64 * last_class;
}
// Largest arguments: position below 8,192 (b up to 13), last class up to 9, class k up to 7.
static_assert(slot_nonzero_prob(3, 8191, 3, 1, 1, 1) + 1 == kSlotSignProbs);
static_assert(slot_sign_prob(3, 3, 3, 1, 13, 1, 1) < kSlotOneProbs);
static_assert(slot_one_prob(3, 3, 1, 9, 13, 1) < kSlotClassTreeProbs);
static_assert(slot_class_tree(3, 3, 7) + 7 < kSlotMantissaProbs &&
                  slot_class_tree(3, 3, 9) + 7 >= kSlotMantissaProbs,
              "the class trees of last classes 8 and 9 share entries with the mantissa tables");
static_assert(slot_mantissa_table(3, 3, 7, 9) + 3 == kSlotBlockProbs + 127,
              "the last mantissa context lies 127 entries past its block");
static_assert(kSlotBlockSpareProbs > 127, "the last block's contexts stay inside the array");
static_assert(slot_mantissa_table(3, 3, 7, 9) + 3 - kSlotBlockProbs == slot_nonzero_prob(3, 12, 3, 1, 0, 0) &&
                  slot_mantissa_table(0, 0, 7, 8) - kSlotBlockProbs == slot_nonzero_prob(0, 0, 0, 0, 0, 0),
              "the mantissa contexts past a block's end are the next slot's zero flags of positions 0 to 15");
static_assert(kSlotBlockProbs == 283648, "the format's entries per slot");
