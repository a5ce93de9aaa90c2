// Time of one redraw: the engine's picture alone, and the picture painted
// into an image of the drawing area the way the window paints it.

#include "pattern/Picture.h"

#include <benchmark/benchmark.h>

#ifdef PRUVEX_BENCH_QT
#include "app/qt/PicMain.h"

#include <QImage>
#include <QPainter>
#endif

namespace {

void BM_GridPicture(benchmark::State& bench) {
    pruvex::PatternState state;
    state.Mode = "G";
    const auto width = static_cast<float>(bench.range(0));
    const auto height = static_cast<float>(bench.range(1));
    for (auto _ : bench) {
        benchmark::DoNotOptimize(pruvex::Draw(state, width, height));
    }
}
BENCHMARK(BM_GridPicture)->Args({776, 520})->Args({3840, 2160});

#ifdef PRUVEX_BENCH_QT
void PaintRedraw(benchmark::State& bench, const char* mode) {
    pruvex::PatternState state;
    state.Mode = mode;
    const int width = static_cast<int>(bench.range(0));
    const int height = static_cast<int>(bench.range(1));
    const int border = static_cast<int>(bench.range(2)); // 2 in a window, 0 in full screen
    QImage image(width - 2 * border, height - 2 * border, QImage::Format_RGB32);
    for (auto _ : bench) {
        QPainter painter(&image);
        PaintPicture(painter, image.rect(),
                     pruvex::Draw(state, static_cast<float>(width), static_cast<float>(height)));
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    bench.SetItemsProcessed(bench.iterations() * image.width() * image.height());
}

void BM_PaintGrid(benchmark::State& bench) {
    PaintRedraw(bench, "G");
}
void BM_PaintFlat(benchmark::State& bench) {
    PaintRedraw(bench, "F");
}
// The window at its start-up size, and one full-screen redraw of a 4K monitor.
BENCHMARK(BM_PaintGrid)->Args({776, 520, 2})->Args({3840, 2160, 0})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintFlat)->Args({776, 520, 2})->Args({3840, 2160, 0})->Unit(benchmark::kMicrosecond);
#endif

} // namespace

BENCHMARK_MAIN();
