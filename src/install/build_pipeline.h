#pragma once
// The install job's walk over the pack directory. Pack files and archive
// copies are built on the job's thread in directory order; delta and bundle
// entries go to a pool of workers, largest bundles first within a memory
// budget, their sources read from the XAPK on the job's thread (the zip
// library's archives are not shared between threads). The outcome is the
// sequential one: the same files, and on failure the message of the first
// failing entry in directory order.
#include <cstdint>
#include <string>
#include <vector>

#include "install/install_job.h"

namespace velmo {

constexpr wchar_t kThreadsEnv[] = L"VELMO_THREADS";
// liblzma's encoder at the fixed settings holds about ten times its 8 MiB
// dictionary; the decoder one dictionary.
constexpr uint64_t kBundleCoderMemory = 11 * (uint64_t(8) << 20);
constexpr unsigned kMaxWorkers = 64;

struct PipelineLimits {
  unsigned workers = 1;       // 1 builds every entry in directory order on the job's thread
  uint64_t memoryBudget = 0;  // bytes that the entries in flight may hold together
};

// VELMO_THREADS when it holds a number from 1 to kMaxWorkers, else every
// hardware thread; the budget is a quarter of physical memory.
PipelineLimits pipelineLimits();

// Peak bytes a delta or bundle entry holds while it is built.
uint64_t entryMemoryEstimate(const PackEntry& entry);

// The order in which waiting delta and bundle entries are started: bundles
// before deltas, larger before smaller, directory order among equals.
// Returns indices into pack.entries.
std::vector<size_t> startOrder(const PatchPack& pack, const std::vector<size_t>& entries);

// Builds every installable entry into job.stagingPath. On false, message
// holds what the job reports: "Cancelled." when a cancel was requested
// (including by cancelAfter milliseconds after startTick, 0 = never), else
// the first failing entry's message in directory order.
bool buildEntries(InstallContext& job, uint32_t cancelAfter, const PipelineLimits& limits, std::wstring& message);

}  // namespace velmo
