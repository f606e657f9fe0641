#include "platform/d3d9/RasterQueue.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace standin::pipeline {

namespace {

// A flush with less left than this (pixels of the triangles' boxes) fills it on the calling
// thread alone: the bands would cost more than they save.
constexpr std::int64_t kShareWork = 32768;
// How long the worker keeps looking for work (yielding) before it sleeps: longer than the gap
// between the scenes of a program that draws frame after frame, so that it is awake when the
// next scene's triangles come (waking it took long enough here to lose most of the stream), and
// short beside a display's frame, so that a program paced by the display lets it sleep.
constexpr std::chrono::microseconds kSpin{2000};

std::uint32_t Index(std::uint64_t claim) {
    return static_cast<std::uint32_t>(claim);
}

std::int64_t BoxArea(const TriangleJob& job) {
    return (std::int64_t{job.maxX} - job.minX + 1) * (std::int64_t{job.maxY} - job.minY + 1);
}

}  // namespace

RasterQueue::RasterQueue(int height)
    : height_(height), entries_(new Entry[kCapacity]), rowWork_(static_cast<std::size_t>(height), 0) {}

RasterQueue::~RasterQueue() {
    Flush();
    if (worker_.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        worker_.join();
    }
}

void RasterQueue::Publish() {
    if (!worker_.joinable() && !workerFailed_) {
        try {
            worker_ = std::thread(&RasterQueue::Work, this);
        } catch (const std::system_error&) {
            workerFailed_ = true;
        }
    }
    if (workerFailed_) {
        return;
    }
    published_.store(count_);  // the entries before it are written
    WakeWorker();
}

// A worker about to sleep has either seen the last change (it looks after saying it sleeps) or
// is seen sleeping here and woken.
void RasterQueue::WakeWorker() {
    if (sleeping_.load()) {
        { const std::lock_guard<std::mutex> lock(mutex_); }
        wake_.notify_one();
    }
}

bool RasterQueue::WorkerHasWork() const {
    if (nextBand_.load() < kBands) {
        return true;
    }
    const std::uint32_t next = Index(claim_.load());
    return next != kStopped && next < published_.load();
}

void RasterQueue::Flush() {
    if (count_ == 0) {
        return;
    }
    const std::uint32_t count = count_;
    // Stop the stream; the worker finishes what it took.
    const std::uint32_t taken = std::min(Index(claim_.exchange((std::uint64_t{flushes_} << 32) | kStopped)), count);
    while (streamed_.load(std::memory_order_acquire) < taken) {
        std::this_thread::yield();
    }
    std::int64_t left = 0;
    for (std::uint32_t i = taken; i < count; ++i) {
        left += BoxArea(entries_[i].job);
    }
    if (taken < count && (left < kShareWork || !worker_.joinable())) {
        for (std::uint32_t i = taken; i < count; ++i) {
            entries_[i].fill(entries_[i].job);
        }
    } else if (taken < count) {
        SplitIntoBands(taken);
        filledBands_.store(0, std::memory_order_relaxed);
        nextBand_.store(0);  // publishes the bands (and the entries, written before)
        WakeWorker();
        FillBands();
        // Whatever band is not filled yet is being filled by the worker right now.
        while (filledBands_.load(std::memory_order_acquire) != kBands) {
            std::this_thread::yield();
        }
    }
    // A new stream: the flush's number keeps a worker that looked at the old one from taking
    // from this one.
    count_ = 0;
    published_.store(0);
    streamed_.store(0);
    ++flushes_;
    claim_.store(std::uint64_t{flushes_} << 32);
}

// Band k of the entries from `first` on starts at the row where their work above reaches
// k / kBands of it (each entry's box area counted at its middle row).
void RasterQueue::SplitIntoBands(std::uint32_t first) {
    std::fill(rowWork_.begin(), rowWork_.end(), 0);
    std::int64_t work = 0;
    for (std::size_t i = first; i < count_; ++i) {
        const TriangleJob& job = entries_[i].job;
        rowWork_[static_cast<std::size_t>(job.minY + (job.maxY - job.minY) / 2)] += BoxArea(job);
        work += BoxArea(job);
    }
    bandFrom_ = first;
    bandTop_[0] = 0;
    std::int64_t above = 0;
    int band = 1;
    for (std::int32_t y = 0; y < height_ && band < kBands; ++y) {
        above += rowWork_[static_cast<std::size_t>(y)];
        while (band < kBands && above * kBands >= work * band) {
            bandTop_[band++] = y + 1;
        }
    }
    while (band <= kBands) {
        bandTop_[band++] = height_;
    }
}

void RasterQueue::FillBands() {
    for (;;) {
        const int band = nextBand_.fetch_add(1, std::memory_order_acq_rel);
        if (band >= kBands) {
            return;
        }
        FillBand(bandTop_[band], bandTop_[band + 1] - 1);
        filledBands_.fetch_add(1, std::memory_order_release);
    }
}

void RasterQueue::FillBand(std::int32_t top, std::int32_t bottom) const {
    if (top > bottom) {
        return;
    }
    for (std::size_t i = bandFrom_; i < count_; ++i) {
        const Entry& entry = entries_[i];
        if (entry.job.maxY < top || entry.job.minY > bottom) {
            continue;
        }
        if (entry.job.minY >= top && entry.job.maxY <= bottom) {
            entry.fill(entry.job);
            continue;
        }
        // The rows of the band: the edge values move to its first row, exactly.
        TriangleJob job = entry.job;
        if (job.minY < top) {
            for (EdgeSteps& edge : job.edges) {
                edge.value += (std::int64_t{top} - job.minY) * edge.stepY;
            }
            job.minY = top;
        }
        job.maxY = std::min(job.maxY, bottom);
        entry.fill(job);
    }
}

// Takes bands while a flush offers any, else the next published entry while the stream runs;
// sleeps when there has been nothing for a while.
void RasterQueue::Work() {
    auto idleSince = std::chrono::steady_clock::now();
    for (;;) {
        if (nextBand_.load(std::memory_order_acquire) < kBands) {
            FillBands();
            idleSince = std::chrono::steady_clock::now();
            continue;
        }
        std::uint64_t claim = claim_.load(std::memory_order_acquire);
        const std::uint32_t next = Index(claim);
        const std::uint32_t published = published_.load(std::memory_order_acquire);
        if (next != kStopped && next < published) {
            // What has been handed over, at most a batch's worth: taken at once.
            const std::uint32_t end = std::min(published, next + kPublishEvery);
            if (claim_.compare_exchange_weak(claim, claim + (end - next), std::memory_order_acq_rel)) {
                for (std::uint32_t i = next; i < end; ++i) {
                    entries_[i].fill(entries_[i].job);
                }
                streamed_.store(end, std::memory_order_release);
            }
            idleSince = std::chrono::steady_clock::now();
            continue;
        }
        if (std::chrono::steady_clock::now() - idleSince < kSpin) {
            std::this_thread::yield();
            continue;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        sleeping_.store(true);
        wake_.wait(lock, [this] { return quit_ || WorkerHasWork(); });
        sleeping_.store(false);
        if (quit_) {
            return;
        }
        idleSince = std::chrono::steady_clock::now();
    }
}

}  // namespace standin::pipeline
