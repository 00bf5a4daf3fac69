#pragma once
// The linear congruential generator whose sequence the triangulation's
// perturbation follows. It is a plain value: every caller owns its own state,
// so concurrent triangulations never share or disturb one another.

#include <cstdint>

class CrtRandom {
public:
    static constexpr int MAX_VALUE = 32767;

    explicit CrtRandom(uint32_t seed = 1) : state_(seed) {}

    void seed(uint32_t seed) { state_ = seed; }

    // Next value in 0 .. MAX_VALUE. The state wraps modulo 2^32.
    int next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 32767u);
    }

    uint32_t state() const { return state_; }

private:
    uint32_t state_;
};
