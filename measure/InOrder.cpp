#include "measure/InOrder.h"

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
};

// The files of one run: read and analysed by workers within a window ahead
// of the sets, joined to them in order by the caller.
class OrderedRun {
  public:
    OrderedRun(FrameSets& sets, const std::vector<MeasuredFile>& inputs, const FrameReader& read,
               const FrameDone& done)
        : sets_(sets), inputs_(inputs), read_(read), done_(done), slots_(inputs.size()) {}

    Slot Analyse(std::size_t i) const {
        Slot slot;
        try {
            slot.Loaded = read_(i);
            if (slot.Loaded.Ok) {
                slot.Analysis = AnalyseFrame(slot.Loaded.Frame, inputs_[i].Dark, sets_.Layout());
            }
        } catch (const std::exception& e) {
            slot.Loaded = LoadedFrame{false, e.what(), {}};
        }
        return slot;
    }

    void Join(std::size_t i, Slot& slot) {
        FrameRole role = FrameRole::NoMosaic;
        if (slot.Loaded.Ok) {
            role = slot.Analysis.Role;
            // The frame's values go to the sets; its levels and metadata
            // stay for the report.
            sets_.Add(std::move(slot.Loaded.Frame), slot.Analysis, inputs_[i].Path);
        }
        done_(i, slot.Loaded, role);
    }

    void OneByOne() {
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            Slot slot = Analyse(i);
            Join(i, slot);
        }
    }

    // A worker takes the next input while it lies within the window ahead
    // of the sets.
    void Work() {
        std::unique_lock lock(mutex_);
        while (true) {
            changed_.wait(lock, [&] {
                return stop_ || next_ >= inputs_.size() || next_ < joined_ + window_;
            });
            if (stop_ || next_ >= inputs_.size()) {
                return;
            }
            const std::size_t i = next_++;
            lock.unlock();
            Slot slot = Analyse(i);
            lock.lock();
            slots_[i] = std::move(slot);
            changed_.notify_all();
        }
    }

    void JoinInOrder() {
        for (std::size_t i = 0; i < inputs_.size(); ++i) {
            Slot slot;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return slots_[i].has_value(); });
                slot = std::move(*slots_[i]);
                slots_[i].reset();
            }
            Join(i, slot);
            {
                const std::lock_guard lock(mutex_);
                joined_ = i + 1;
            }
            changed_.notify_all();
        }
    }

    void OnThreads(unsigned threads) {
        window_ = 2 * static_cast<std::size_t>(threads);
        std::vector<std::thread> workers;
        workers.reserve(threads);
        for (unsigned t = 0; t < threads; ++t) {
            workers.emplace_back([this] { Work(); });
        }
        const auto stopWorkers = [&] {
            {
                const std::lock_guard lock(mutex_);
                stop_ = true;
            }
            changed_.notify_all();
            for (std::thread& worker : workers) {
                worker.join();
            }
        };
        try {
            JoinInOrder();
        } catch (...) {
            stopWorkers();
            throw;
        }
        stopWorkers();
    }

  private:
    FrameSets& sets_;
    const std::vector<MeasuredFile>& inputs_;
    const FrameReader& read_;
    const FrameDone& done_;
    std::vector<std::optional<Slot>> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t window_ = 0;
    std::size_t next_ = 0;   // the next input a worker takes
    std::size_t joined_ = 0; // inputs joined to the sets
    bool stop_ = false;
};

} // namespace

void AddInOrder(FrameSets& sets, const std::vector<MeasuredFile>& inputs, const FrameReader& read,
                const FrameDone& done, unsigned threads) {
    if (threads == 0) {
        threads = std::max(1U, std::thread::hardware_concurrency());
    }
    threads = static_cast<unsigned>(
        std::min<std::size_t>(threads, std::max<std::size_t>(inputs.size(), 1)));
    OrderedRun run(sets, inputs, read, done);
    if (threads <= 1) {
        run.OneByOne();
    } else {
        run.OnThreads(threads);
    }
}

} // namespace pruvex::measure
