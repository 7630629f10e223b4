#pragma once

// ValueModel: the state of one adaptive value code (zero flag, sign, bit-length class, mantissa,
// predictor), and ModelArea: the 55 value models shared by the page layer, the store indices and the
// header codec. Every model is a flat block of 16-bit probabilities; model_map.h names the records and
// the regions inside a record.

#include "coder/model_map.h"
#include "coder/range_decoder.h"

#include <cstdint>

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
