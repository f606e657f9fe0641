// Triangles for the raster kernels, queued and filled on two threads: the calling one, which
// sets them up and queues them, and a worker of the queue's own.
//
// While the calling thread queues, the worker fills the queued triangles one after the other,
// whole and in order. When the queue is flushed, the calling thread stops that stream and the
// triangles the worker has not taken are filled in bands of rows of about equal work, which both
// threads take in turn: each band takes every one of those triangles in order, cut to its rows. So every pixel sees the
// same writes in the same order as when the triangles are filled one by one, and the result is the same to the bit.
//
// The device queues while a draw's triangles go through the kernels and flushes before
// anything else touches its buffers: a Clear, the end of a scene, Present, a read-back, a
// primitive on the per-fragment path, a line or a point, and its release.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
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

    // Queues the triangle whose job `make()` returns to be filled by `fill`; the job is built
    // where the queue keeps it, not copied there.
    template <typename MakeJob>
    void Push(TriangleFunction fill, const MakeJob& make) {
        if (count_ == kCapacity) {
            Flush();
        }
        Entry& entry = entries_[count_++];
        entry.fill = fill;
        ::new (static_cast<void*>(&entry.job)) TriangleJob(make());
        if (count_ - published_.load(std::memory_order_relaxed) >= kPublishEvery) {
            Publish();
        }
    }
    // Fills everything queued; returns when it is in the buffers.
    void Flush();

private:
    static constexpr int kBands = 4;
    // More queued than this is filled before the next triangle is taken: the queue's memory
    // stays bounded, taken once.
    static constexpr std::uint32_t kCapacity = 4096;
    // The worker is handed queued triangles this many at a time.
    static constexpr std::uint32_t kPublishEvery = 16;
    struct Entry {
        TriangleFunction fill;
        TriangleJob job;
    };
    void Publish();
    void WakeWorker();
    bool WorkerHasWork() const;
    void SplitIntoBands(std::uint32_t first);
    void FillBands();
    void FillBand(std::int32_t top, std::int32_t bottom) const;
    void Work();

    int height_;
    std::unique_ptr<Entry[]> entries_;   // kCapacity of them, the first count_ queued
    std::vector<std::int64_t> rowWork_;  // scratch of SplitIntoBands
    // Changed by the calling thread only, for every triangle: on a cache line of its own, apart
    // from what the worker reads, which would otherwise go back and forth between the cores.
    alignas(64) std::uint32_t count_ = 0;

    // The stream: the worker may take entries below `published_`; `claim_` holds the flush's
    // number (high half) and the next entry for the worker (low half), or kStopped there once
    // the flush has begun; `streamed_` counts the entries the worker has filled.
    static constexpr std::uint32_t kStopped = 0xFFFFFFFFu;
    // (Each on a cache line of its own: one thread writes each.)
    alignas(64) std::atomic<std::uint32_t> published_{0};
    alignas(64) std::atomic<std::uint64_t> claim_{0};
    alignas(64) std::atomic<std::uint32_t> streamed_{0};
    std::uint32_t flushes_ = 0;

    // The bands of a flush: entries from `bandFrom_` on, rows from each band's first to the
    // next's; a band counts in `filledBands_` once it is in the buffers.
    std::uint32_t bandFrom_ = 0;
    std::int32_t bandTop_[kBands + 1] = {};
    alignas(64) std::atomic<int> nextBand_{kBands};
    alignas(64) std::atomic<int> filledBands_{0};

    std::thread worker_;
    bool workerFailed_ = false;  // no thread to be had: everything is filled at the flush
    std::mutex mutex_;
    std::condition_variable wake_;
    alignas(64) std::atomic<bool> sleeping_{false};  // the worker waits on wake_
    bool quit_ = false;                              // guarded by mutex_
};

}  // namespace standin::pipeline
