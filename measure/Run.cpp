#include "measure/Run.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace pruvex::measure {

namespace {

struct Slot {
    LoadedFrame Loaded;
    FrameAnalysis Analysis;
    bool Ready = false;
};

} // namespace

void RunSeries(Series& series, const std::vector<MeasuredFile>& inputs, const FrameReader& read,
               const FrameDone& done, unsigned threads) {
    if (threads == 0) {
        threads = std::max(1U, std::thread::hardware_concurrency());
    }
    threads = static_cast<unsigned>(
        std::min<std::size_t>(threads, std::max<std::size_t>(inputs.size(), 1)));
    const auto analyse = [&](std::size_t i, Slot& slot) {
        try {
            slot.Loaded = read(i);
            if (slot.Loaded.Ok) {
                slot.Analysis = AnalyseFrame(slot.Loaded.Frame, inputs[i].Dark, series.Layout());
            }
        } catch (const std::exception& e) {
            slot.Loaded = LoadedFrame{false, e.what(), {}};
        }
    };
    const auto join = [&](std::size_t i, Slot& slot) {
        FrameRole role = FrameRole::NoMosaic;
        if (slot.Loaded.Ok) {
            role = slot.Analysis.Role;
            // The frame's values go to the series; its levels and metadata
            // stay for the report.
            series.Add(std::move(slot.Loaded.Frame), slot.Analysis, inputs[i].Path);
        }
        done(i, slot.Loaded, role);
    };
    if (threads <= 1) {
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            Slot slot;
            analyse(i, slot);
            join(i, slot);
        }
        return;
    }
    // Workers take the next input while it lies within the window ahead of
    // the series; the caller joins them in order.
    const std::size_t window = 2 * static_cast<std::size_t>(threads);
    std::vector<std::optional<Slot>> slots(inputs.size());
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;   // the next input a worker takes
    std::size_t joined = 0; // inputs joined to the series
    bool stop = false;
    const auto work = [&] {
        std::unique_lock lock(mutex);
        while (true) {
            changed.wait(lock,
                         [&] { return stop || next >= inputs.size() || next < joined + window; });
            if (stop || next >= inputs.size()) {
                return;
            }
            const std::size_t i = next++;
            lock.unlock();
            Slot slot;
            analyse(i, slot);
            slot.Ready = true;
            lock.lock();
            slots[i] = std::move(slot);
            changed.notify_all();
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(threads);
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back(work);
    }
    try {
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            Slot slot;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return slots[i].has_value(); });
                slot = std::move(*slots[i]);
                slots[i].reset();
            }
            join(i, slot);
            {
                const std::lock_guard lock(mutex);
                joined = i + 1;
            }
            changed.notify_all();
        }
    } catch (...) {
        {
            const std::lock_guard lock(mutex);
            stop = true;
        }
        changed.notify_all();
        for (std::thread& worker : workers) {
            worker.join();
        }
        throw;
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

} // namespace pruvex::measure
