#pragma once

// ValueModel: the state of one adaptive value code (zero flag, sign, bit-length class, mantissa,
// predictor), and ModelArea: the 55 value models shared by the page layer, the store indices and the
// header codec. Every model is a flat block of 16-bit probabilities addressed by fixed entry numbers:
//
//   entries 0-3      zero flag, by zero_history
//   entries 4-7      sign, by sign_history (4-5 with a one-bit history)
//   entries from 20  class trees: 20 + last_class * 2^B + node
//   entries from 1044 mantissa: 1044 + node (shared) or 1044 + k * T + node (one table per class)
//
// With five class bits the tree of last_class 32 starts at entry 1044 and shares its probabilities with
// the mantissa table. That overlap is part of the archive format, so the regions are never split.

#include "coder/range_decoder.h"

#include <cstdint>

constexpr int kValueModelProbs = 4090;
constexpr int kModelAreaRecords = 55;

struct ValueModel {
    int32_t last_value;   // base of the order-1 and order-2 predictors
    int32_t last_delta;   // last first difference (order 2 only)
    uint8_t zero_history; // last two zero flags, newest in bit 0
    uint8_t sign_history; // last one or two signs, newest in bit 0
    uint8_t last_class;   // 0 after a zero magnitude, else class + 1
    uint8_t spare;
    uint16_t probs[kValueModelProbs];
};
static_assert(sizeof(ValueModel) == 8192, "a value model is one 8 KiB record");

// Record numbers with a fixed owner.
enum ModelRecord : int {
    kModelHeaderType = 0,
    kModelGranuleLow = 1,
    kModelGranuleHigh = 2,
    kModelSerial = 3,
    kModelSequence = 4,
    kModelPacketCount = 5,
    kModelPacketLength = 6,
    kModelFloatMantissa = 48,
    kModelFloatExponent = 50, // + which (0 = minimum value, 1 = delta value)
    kModelStreamStoreIndex = 52,
    kModelHeaderStoreIndex = 53,
};

struct ModelArea {
    ValueModel records[kModelAreaRecords];
    ValueModel& operator[](int i) { return records[i]; }
    const ValueModel& operator[](int i) const { return records[i]; }
};
static_assert(sizeof(ModelArea) == 450560, "the model area is one block of 55 records");

// Full reset: predictor words, histories and every probability.
inline void reset_model(ValueModel& m) {
    m.last_value = 0;
    m.last_delta = 0;
    m.zero_history = m.sign_history = m.last_class = m.spare = 0;
    for (uint16_t& p : m.probs)
        p = kProbInit;
}

// Predictor-only reset: learned probabilities carry over into the next logical stream.
inline void reset_predictor(ValueModel& m) {
    m.last_value = 0;
    m.last_delta = 0;
    m.zero_history = m.sign_history = m.last_class = m.spare = 0;
}

// Resets records 0 .. count - 1 in full.
inline void reset_models(ModelArea& models, int count) {
    for (int i = 0; i < count && i < kModelAreaRecords; ++i)
        reset_model(models[i]);
}
