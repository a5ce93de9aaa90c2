#pragma once

// Many files measured on every core: each file is read and analysed (found,
// measured alone) on one of several threads, and joins the frame sets in
// the order given, so that the figures are those of one thread.

#include "measure/FrameSets.h"
#include "measure/MeasuredFile.h"

#include <cstddef>
#include <functional>
#include <string>

namespace pruvex::measure {

struct LoadedFrame {
    bool Ok = false;
    std::string Error; // why not, when not Ok
    CfaFrame Frame;
};

// Reads input i; called on any thread.
using FrameReader = std::function<LoadedFrame(std::size_t index)>;
// What became of input i (its frame's role when it was read); called on the
// caller's thread, in order, before input i + 1's.
using FrameDone = std::function<void(std::size_t index, const LoadedFrame& loaded, FrameRole role)>;

// Threads 0: one per core. At most a few frames per thread are held ahead
// of the sets.
void AddInOrder(FrameSets& sets, const std::vector<MeasuredFile>& inputs, const FrameReader& read,
                const FrameDone& done, unsigned threads = 0);

} // namespace pruvex::measure
