#include "platform/d3d9/RasterQueue.h"

#include <algorithm>
#include <system_error>

namespace standin::pipeline {

namespace {

// More queued than this is filled before the next triangle is taken: the queue's memory stays
// bounded, taken once.
constexpr std::size_t kCapacity = 4096;
// Less work than this (pixels of the triangles' boxes) is filled on the calling thread alone:
// waking the worker would cost more than it saves.
constexpr std::int64_t kShareWork = 32768;

}  // namespace

RasterQueue::RasterQueue(int height) : height_(height), rowWork_(static_cast<std::size_t>(height), 0) {
    entries_.reserve(kCapacity);
}

RasterQueue::~RasterQueue() {
    Flush();
    if (worker_.joinable()) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        posted_.notify_one();
        worker_.join();
    }
}

void RasterQueue::Push(TriangleFunction fill, const TriangleJob& job) {
    if (entries_.size() == kCapacity) {
        Flush();
    }
    entries_.push_back({fill, job});
    const std::int64_t area = (std::int64_t{job.maxX} - job.minX + 1) * (std::int64_t{job.maxY} - job.minY + 1);
    rowWork_[static_cast<std::size_t>(job.minY + (job.maxY - job.minY) / 2)] += area;
    work_ += area;
}

void RasterQueue::Flush() {
    if (entries_.empty()) {
        return;
    }
    if (work_ < kShareWork) {
        FillBand(0, height_ - 1);
    } else {
        SplitIntoBands();
        filledBands_.store(0, std::memory_order_relaxed);
        nextBand_.store(0, std::memory_order_release);  // publishes the bands and the entries
        if (!worker_.joinable()) {
            try {
                worker_ = std::thread(&RasterQueue::Work, this);
            } catch (const std::system_error&) {
                // No thread to be had: the bands are all filled here.
            }
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++postedFlushes_;
        }
        posted_.notify_one();
        FillBands();
        // Whatever band is not filled yet is being filled by the worker right now.
        while (filledBands_.load(std::memory_order_acquire) != kBands) {
            std::this_thread::yield();
        }
    }
    entries_.clear();
    std::fill(rowWork_.begin(), rowWork_.end(), 0);
    work_ = 0;
}

// Band k starts at the row where the work above reaches k / kBands of it.
void RasterQueue::SplitIntoBands() {
    bandTop_[0] = 0;
    std::int64_t above = 0;
    int band = 1;
    for (std::int32_t y = 0; y < height_ && band < kBands; ++y) {
        above += rowWork_[static_cast<std::size_t>(y)];
        while (band < kBands && above * kBands >= work_ * band) {
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
    for (const Entry& entry : entries_) {
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

// Wakes for each shared flush and takes bands while there are any; a flush the calling thread
// finished alone leaves it none.
void RasterQueue::Work() {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        posted_.wait(lock, [&] { return quit_ || postedFlushes_ != seen; });
        if (quit_) {
            return;
        }
        seen = postedFlushes_;
        lock.unlock();
        FillBands();
        lock.lock();
    }
}

}  // namespace standin::pipeline
