// Triangles for the raster kernels, queued and then filled on two threads at once: the
// calling one and a worker. The target's rows are cut in bands of about equal work; a thread
// takes a band and fills every queued triangle in the order it came, cut to the band, so every
// pixel sees the same writes in the same order as when the triangles are filled one by one, and
// the result is the same to the bit.
//
// The device queues while a draw's triangles go through the kernels and fills the queue before
// anything else touches its buffers: a Clear, the end of a scene, Present, a read-back, a
// primitive that takes the per-fragment path, and its release.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/d3d9/Fragment.h"

namespace standin::pipeline {

class RasterQueue {
public:
    explicit RasterQueue(int height);
    ~RasterQueue();
    RasterQueue(const RasterQueue&) = delete;
    RasterQueue& operator=(const RasterQueue&) = delete;

    void Push(TriangleFunction fill, const TriangleJob& job);
    // Fills everything queued; returns when it is in the buffers.
    void Flush();
    bool Empty() const { return entries_.empty(); }

private:
    static constexpr int kBands = 4;
    struct Entry {
        TriangleFunction fill;
        TriangleJob job;
    };
    void FillBand(std::int32_t top, std::int32_t bottom) const;
    void SplitIntoBands();
    void FillBands();
    void Work();

    int height_;
    std::vector<Entry> entries_;
    // Each queued triangle's box area, counted at its middle row: where to cut the bands.
    std::vector<std::int64_t> rowWork_;
    std::int64_t work_ = 0;

    // A flush: the bands' first rows (and the end), taken by either thread in turn; a band
    // counts in `filled` once it is in the buffers. The calling thread takes what the worker
    // has not, so a worker that wakes late costs no waiting.
    std::int32_t bandTop_[kBands + 1] = {};
    std::atomic<int> nextBand_{kBands};
    std::atomic<int> filledBands_{0};

    std::thread worker_;  // started by the first flush worth sharing
    std::mutex mutex_;
    std::condition_variable posted_;
    std::uint64_t postedFlushes_ = 0;  // guarded by mutex_, as quit_
    bool quit_ = false;
};

}  // namespace standin::pipeline
