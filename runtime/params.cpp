// The parameter area with its frames.
#include "runtime/params.h"

#include <array>
#include "runtime/errors.h"

namespace rt {

namespace {

using Frame = std::array<Value, kFrameSize>;
std::array<Frame, kFrameCount> g_frames;
int g_depth = 0;       // frames taken above the base frame
int g_paramCount = 0;  // parameters of the current call

Frame& currentFrame()
{
    return g_frames[static_cast<std::size_t>(g_depth < kFrameCount ? g_depth : kFrameCount - 1)];
}

} // namespace

ParamFrame::ParamFrame(std::initializer_list<Value> args)
{
    enter(args.begin(), args.size());
}

ParamFrame::ParamFrame(const std::vector<Value>& args)
{
    enter(args.data(), args.size());
}

void ParamFrame::enter(const Value* args, std::size_t count)
{
    if (count == 0) return;
    if (count > kFrameSize - 1) count = kFrameSize - 1;
    took_ = true;
    savedCount_ = g_paramCount;
    ++g_depth;
    Frame& f = currentFrame();
    for (std::size_t k = 0; k < count; ++k) f[k + 1] = args[k];
    g_paramCount = static_cast<int>(count);
}

ParamFrame::~ParamFrame()
{
    if (!took_) return;
    --g_depth;
    g_paramCount = savedCount_;
}

Value& lastResult()
{
    return g_frames[0][0];
}

int procParamCount()
{
    return g_paramCount;
}

Value procParam(int n)
{
    if (n < 1 || n > g_paramCount) {
        raiseError(212);
        return Value(std::string());
    }
    return currentFrame()[static_cast<std::size_t>(n)];
}

std::intptr_t procParamInt(int n)
{
    const Value v = procParam(n);
    return v.aux ? reinterpret_cast<std::intptr_t>(v.aux) : v.i;
}

std::string procParamString(int n)
{
    return procParam(n).s;
}

} // namespace rt
