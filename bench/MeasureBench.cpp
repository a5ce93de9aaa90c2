// Time per 24-megapixel frame in pruvex-measure: decoding the raw file
// through LibRaw, and measuring (finding the mosaic, the squares of one
// frame, the squares of a pair, the uniformity of a frame and of a pair);
// and the wall time of a series of 20 such frames, and of 90 (mosaic, flat
// and dark frames), decoded and measured on one thread and on every core.
// The frames come from the tests' simulated camera, written once as DNG
// files.

#include "SimulatedCamera.h"
#include "measure/Codes.h"
#include "measure/FrameSets.h"
#include "measure/Manifest.h"
#include "measure/Measurement.h"
#include "measure/Mosaic.h"
#include "measure/RawFile.h"
#include "measure/Statistics.h"
#include "measure/Uniformity.h"
#include "measure/ValueCounts.h"
#include "series/FrameCheck.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace pruvex::measure;

// Two 6000 x 4000 frames of the mosaic, made on first use and removed at exit.
struct Frames {
    std::string First;
    std::string Second;
    std::string Flat; // a flat field at about half the range
    std::string Dark;
    CfaFrame FirstFrame;
    CfaFrame SecondFrame;
    Placement Where;

    Frames() {
        const std::filesystem::path folder = std::filesystem::temp_directory_path();
        First = (folder / "pruvex-measure-bench-1.dng").string();
        Second = (folder / "pruvex-measure-bench-2.dng").string();
        Flat = (folder / "pruvex-measure-bench-flat.dng").string();
        Dark = (folder / "pruvex-measure-bench-dark.dng").string();
        pruvex::testing::Sensor sensor;
        sensor.Width = 6000;
        sensor.Height = 4000;
        sensor.Bits = 14;
        sensor.Black = {512, 512, 512, 512};
        pruvex::testing::Scene scene;
        scene.MosaicWidth = 1.08;
        scene.RotationDegrees = 1;
        scene.BlurRadius = 8;
        pruvex::testing::Exposure exposure;
        exposure.Gain = 2;
        exposure.WhiteElectrons = 1.2 * (sensor.White() - 512) * exposure.Gain;
        for (const std::string& path : {First, Second}) {
            ++exposure.Seed;
            WriteDng(path, sensor, Shoot(sensor, scene, exposure), exposure);
        }
        pruvex::testing::Exposure flat = exposure;
        flat.WhiteElectrons = 0.8 * (sensor.White() - 512) * exposure.Gain;
        WriteDng(Flat, sensor,
                 ShootScreen(sensor, pruvex::testing::FlatScene(), flat,
                             pruvex::testing::FlatPicture(212)),
                 flat);
        pruvex::testing::Exposure dark = exposure;
        dark.WhiteElectrons = 0;
        WriteDng(Dark, sensor, Shoot(sensor, scene, dark), dark);
        FirstFrame = Read(First);
        SecondFrame = Read(Second);
        const auto found = FindMosaic(FirstFrame, TheMosaic());
        if (!found) {
            throw std::runtime_error("no mosaic in the benchmark's frame");
        }
        Where = *found;
    }
    ~Frames() {
        std::remove(First.c_str());
        std::remove(Second.c_str());
        std::remove(Flat.c_str());
        std::remove(Dark.c_str());
    }
    Frames(const Frames&) = delete;
    Frames& operator=(const Frames&) = delete;

    static CfaFrame Read(const std::string& path) {
        RawResult raw = ReadRaw(path);
        if (!raw.Ok) {
            throw std::runtime_error(path + ": " + raw.Error);
        }
        return std::move(raw.Frame);
    }
};

const Frames& TheFrames() {
    static const Frames frames;
    return frames;
}

void BM_Decode(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(Frames::Read(frames.First));
    }
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

void BM_FindMosaic(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(FindMosaic(frames.FirstFrame, TheMosaic()));
    }
}
BENCHMARK(BM_FindMosaic)->Unit(benchmark::kMillisecond);

void BM_MeasureSquares(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(MeasureSquares(frames.FirstFrame, frames.Where, TheMosaic()));
    }
}
BENCHMARK(BM_MeasureSquares)->Unit(benchmark::kMillisecond);

void BM_MeasureSquarePair(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(
            MeasureSquarePair(frames.FirstFrame, frames.SecondFrame, frames.Where, TheMosaic()));
    }
}
BENCHMARK(BM_MeasureSquarePair)->Unit(benchmark::kMillisecond);

// Everything a frame costs once decoded: found, measured alone and as the
// second of a pair.
void BM_MeasureFrame(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        const auto where = FindMosaic(frames.SecondFrame, TheMosaic());
        benchmark::DoNotOptimize(MeasureSquares(frames.SecondFrame, *where, TheMosaic()));
        benchmark::DoNotOptimize(
            MeasureSquarePair(frames.FirstFrame, frames.SecondFrame, frames.Where, TheMosaic()));
    }
}
BENCHMARK(BM_MeasureFrame)->Unit(benchmark::kMillisecond);

// pruvex-series' own work per shot, on one thread: the raw file read (once,
// the folder camera's check that it is whole included), the frame checked
// (the mosaic and its squares below clipping) and its settings verified
// against those asked.
void BM_SeriesShot(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        const CfaFrame frame = Frames::Read(frames.First);
        benchmark::DoNotOptimize(pruvex::series::CheckShot(frame));
        benchmark::DoNotOptimize(CompareSettings(frame, frame.Iso, frame.Shutter));
    }
}
BENCHMARK(BM_SeriesShot)->Unit(benchmark::kMillisecond);

// A series of 20 frames (the two files in turn, ten pairs), decoded and
// measured on the given threads (0: one per core), wall time.
void BM_Series20Frames(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    std::vector<MeasuredFile> inputs;
    for (int i = 0; i < 20; ++i) {
        inputs.push_back({i % 2 == 0 ? frames.First : frames.Second, false});
    }
    const auto threads = static_cast<unsigned>(bench.range(0));
    for (auto _ : bench) {
        const Measurement measurement = MeasureFiles(inputs, threads);
        if (measurement.FileProblems || measurement.Figures.empty()) {
            throw std::runtime_error("a frame of the benchmark's series not measured");
        }
        benchmark::DoNotOptimize(measurement.Figures);
    }
    bench.counters["threads"] =
        threads == 0 ? static_cast<double>(std::thread::hardware_concurrency()) : threads;
}
BENCHMARK(BM_Series20Frames)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// The uniformity of one frame: each site's image high-pass filtered and its
// variances (all, rows' and columns' means).
void BM_UniformityFrame(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(HighPassVariances(frames.FirstFrame));
    }
}
BENCHMARK(BM_UniformityFrame)->Unit(benchmark::kMillisecond);

// Every frame's codes: where its values pile up, the digital gain.
void BM_ReadCodes(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(ReadCodes(frames.FirstFrame));
    }
}
BENCHMARK(BM_ReadCodes)->Unit(benchmark::kMillisecond);

// A flat frame's values counted, site by site (a flat frame's values
// crowd into few counts, the hardest case for counting).
void BM_CountFlatValues(benchmark::State& bench) {
    const CfaFrame flat = Frames::Read(TheFrames().Flat);
    for (auto _ : bench) {
        benchmark::DoNotOptimize(CountValues(flat));
    }
}
BENCHMARK(BM_CountFlatValues)->Unit(benchmark::kMillisecond);

// A dark or flat frame's statistics over the whole frame.
void BM_MeasureWholeFrame(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        benchmark::DoNotOptimize(MeasureFrame(frames.FirstFrame));
    }
}
BENCHMARK(BM_MeasureWholeFrame)->Unit(benchmark::kMillisecond);

// What a pair adds: its mean image's high-pass variances, its difference's
// variances and the parts.
void BM_UniformityPair(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    for (auto _ : bench) {
        ChannelParts parts;
        PairParts(frames.SecondFrame, PairVariancesOf(frames.FirstFrame, frames.SecondFrame),
                  parts);
        benchmark::DoNotOptimize(parts);
    }
}
BENCHMARK(BM_UniformityPair)->Unit(benchmark::kMillisecond);

// A pair of dark frames: their difference's statistics (each frame's
// spreads come with it).
void BM_DarkPair(benchmark::State& bench) {
    const CfaFrame dark = Frames::Read(TheFrames().Dark);
    const ChannelSpreads spreads = SpreadsOf(dark, CountValues(dark));
    for (auto _ : bench) {
        benchmark::DoNotOptimize(MeasureFramePair(dark, spreads, dark, spreads));
    }
}
BENCHMARK(BM_DarkPair)->Unit(benchmark::kMillisecond);

// A series of 90 frames (30 of the mosaic, 30 flat, 30 dark, in pairs),
// decoded and measured on the given threads (0: one per core), wall time;
// the budget is 1.2 x the frames' decoding time over the cores.
void BM_Series90Frames(benchmark::State& bench) {
    const Frames& frames = TheFrames();
    std::vector<MeasuredFile> inputs;
    inputs.reserve(90);
    for (int i = 0; i < 90; ++i) {
        const int kind = i / 30;
        const std::string& mosaic = i % 2 == 0 ? frames.First : frames.Second;
        inputs.push_back({kind == 0   ? mosaic
                          : kind == 1 ? frames.Flat
                                      : frames.Dark,
                          kind == 2, 0, 0, kind == 1});
    }
    const auto threads = static_cast<unsigned>(bench.range(0));
    const unsigned cores = threads == 0 ? std::thread::hardware_concurrency() : threads;
    // A frame's decoding time: the series' own frames decoded one after
    // another, on one thread, just before they are measured.
    const auto since = [](std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    const auto decodeStart = std::chrono::steady_clock::now();
    for (const MeasuredFile& input : inputs) {
        benchmark::DoNotOptimize(Frames::Read(input.Path));
    }
    const double decode = since(decodeStart) / static_cast<double>(inputs.size());
    // The same frames decoded on the same threads side by side, wall time:
    // on a machine whose cores share their caches and memory, a decode
    // beside another is slower than one alone.
    std::atomic<std::size_t> next{0};
    const auto decodeSome = [&] {
        for (std::size_t i = next++; i < inputs.size(); i = next++) {
            benchmark::DoNotOptimize(Frames::Read(inputs[i].Path));
        }
    };
    const auto parallelStart = std::chrono::steady_clock::now();
    std::vector<std::thread> decoders;
    for (unsigned t = 1; t < cores; ++t) {
        decoders.emplace_back(decodeSome);
    }
    decodeSome();
    for (std::thread& decoder : decoders) {
        decoder.join();
    }
    const double parallelDecode = since(parallelStart);
    double measured = 0;
    for (auto _ : bench) {
        const auto start = std::chrono::steady_clock::now();
        const Measurement measurement = MeasureFiles(inputs, threads);
        measured = since(start);
        if (measurement.FileProblems || measurement.Figures.empty()) {
            throw std::runtime_error("a frame of the benchmark's series not measured");
        }
        benchmark::DoNotOptimize(measurement.Figures);
    }
    const double budget = 1.2 * static_cast<double>(inputs.size()) * decode / cores;
    bench.counters["threads"] = cores;
    bench.counters["decode_ms"] = decode;
    bench.counters["budget_ms"] = budget;
    // The time against the decoding time over the cores: at most 1.2.
    bench.counters["of_decoding"] = 1.2 * measured / budget;
    // The time against decoding the frames on the same threads.
    bench.counters["side_by_side_decode_ms"] = parallelDecode;
    bench.counters["of_side_by_side_decoding"] = measured / parallelDecode;
}
BENCHMARK(BM_Series90Frames)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

} // namespace

BENCHMARK_MAIN();
