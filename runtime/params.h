// The parameter area: frames of 32 value records that carry the parameters
// of the procedure that runs, and entry 0 of the base frame, the last result.
// Program-thread only.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>
#include "runtime/value.h"

namespace rt {

constexpr int kFrameSize = 32;   // entries 1..31 are parameters
constexpr int kFrameCount = 32;  // the base frame and 31 nested ones

// A procedure call: with parameters it takes the next frame (calls nested
// deeper than the last frame share it) and gives it back at its end; without
// parameters it keeps the caller's frame. At most 31 parameters are kept.
class ParamFrame {
public:
    explicit ParamFrame(std::initializer_list<Value> args);
    explicit ParamFrame(const std::vector<Value>& args);
    ~ParamFrame();
    ParamFrame(const ParamFrame&) = delete;
    ParamFrame& operator=(const ParamFrame&) = delete;

private:
    void enter(const Value* args, std::size_t count);
    bool took_ = false;
    int savedCount_ = 0;
};

// The last result (entry 0 of the base frame).
Value& lastResult();
// Number of parameters of the current call.
int procParamCount();
// Parameter n (1..count) as raw value, integer (a memory area: its address)
// or string copy. An index outside 1..count raises error 212 and gives an
// empty value.
Value procParam(int n);
std::intptr_t procParamInt(int n);
std::string procParamString(int n);

} // namespace rt
