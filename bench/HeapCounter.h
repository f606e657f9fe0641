// Every heap allocation of the benchmark process through operator new is counted
// (HeapCounter.cpp replaces the global operator new), for the allocations-per-frame counters.
#pragma once

#include <cstdint>

std::uint64_t HeapAllocations();
