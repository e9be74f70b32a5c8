#include "install/build_pipeline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "install/entry_build.h"
#include "platform/folder_tree.h"
#include "platform/platform.h"

namespace velmo {
namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(10);  // how often the job looks at the clock

// A delta or bundle entry handed to a worker, with its source already read.
struct Task {
  size_t index = 0;
  const PackEntry* entry = nullptr;
  std::wstring outputPath;
  uint64_t memory = 0;
  EntrySource source;
};

struct Pipeline {
  Pipeline(InstallContext& j, uint32_t after, const PipelineLimits& l)
      : job(j), state(*j.state), cancelAfter(after), limits(l) {}
  InstallContext& job;
  InstallState& state;
  uint32_t cancelAfter;
  PipelineLimits limits;

  std::atomic<size_t> firstFailure{SIZE_MAX};  // lowest failing entry so far
  std::mutex lock;                             // guards everything below
  std::condition_variable changed;
  std::wstring failureText;
  std::map<size_t, std::wstring> active;  // entries being built: index -> relative path
  size_t shown = SIZE_MAX;                // the entry currentFile names
  std::vector<size_t> pending;            // delta and bundle entries not started, in start order
  std::deque<std::unique_ptr<Task>> ready;
  unsigned inFlight = 0;  // read or being built
  uint64_t memoryInFlight = 0;
  bool closing = false;
  std::vector<std::thread> workers;
};

bool cancelled(Pipeline& p) {
  if (p.state.cancelRequested) return true;
  if (p.cancelAfter != 0 && platform().tickCount() - p.state.startTick.load() >= p.cancelAfter) {
    p.state.cancelRequested = true;
    return true;
  }
  return false;
}

// An entry stops when the job is cancelled or an earlier entry failed; entries
// before a failure run on, since one of them may fail first in directory order.
bool shouldStop(Pipeline& p, size_t index) { return cancelled(p) || index > p.firstFailure.load(); }

void recordFailure(Pipeline& p, size_t index, const std::wstring& message) {
  std::lock_guard<std::mutex> hold(p.lock);
  if (index >= p.firstFailure.load()) return;
  p.firstFailure = index;
  p.failureText = message;
}

// currentFile names the lowest entry in directory order still being built.
void showLowest(Pipeline& p) {
  if (p.active.empty() || p.active.begin()->first == p.shown) return;
  p.shown = p.active.begin()->first;
  setCurrentFile(p.state, p.active.begin()->second);
}

void setActive(Pipeline& p, size_t index, const std::wstring& relative) {
  std::lock_guard<std::mutex> hold(p.lock);
  p.active[index] = relative;
  showLowest(p);
}

void clearActive(Pipeline& p, size_t index) {
  std::lock_guard<std::mutex> hold(p.lock);
  p.active.erase(index);
  showLowest(p);
}

// Maps an entry's own units of work onto its output size in bytesDone, so
// the bar moves inside long entries, and stops the entry when asked.
struct EntryProgress {
  Pipeline& p;
  size_t index;
  uint64_t size, units;
  uint64_t done = 0, reported = 0;
  bool stopped = false;

  bool advance(uint64_t n) {
    done = std::min(units, done + n);
    uint64_t target = units == 0 ? 0 : uint64_t(double(done) / double(units) * double(size));
    target = std::min(target, size);
    if (target > reported) {
      p.state.bytesDone.fetch_add(target - reported);
      reported = target;
    }
    stopped = shouldStop(p, index);
    return !stopped;
  }
  void complete() {
    if (size > reported) p.state.bytesDone.fetch_add(size - reported);
    reported = size;
  }
};

// Runs one builder with the entry's progress; a failure that was not caused
// by a stop request is recorded under the entry's index.
template <typename Build>
void runEntry(Pipeline& p, size_t index, const PackEntry& e, Build build) {
  EntryProgress progress{p, index, e.size, entryWorkUnits(e)};
  std::wstring message;
  bool ok = !shouldStop(p, index) && build([&](uint64_t n) { return progress.advance(n); }, message);
  if (ok) return progress.complete();
  if (!progress.stopped && !shouldStop(p, index)) recordFailure(p, index, message);
}

void finishTask(Pipeline& p, const Task& t) {
  std::lock_guard<std::mutex> hold(p.lock);
  --p.inFlight;
  p.memoryInFlight -= t.memory;
  p.active.erase(t.index);
  showLowest(p);
  p.changed.notify_all();
}

void workerLoop(Pipeline& p) {
  for (;;) {
    std::unique_ptr<Task> t;
    {
      std::unique_lock<std::mutex> hold(p.lock);
      p.changed.wait(hold, [&] { return p.closing || !p.ready.empty(); });
      if (p.ready.empty()) return;
      t = std::move(p.ready.front());
      p.ready.pop_front();
    }
    runEntry(p, t->index, *t->entry, [&](const ProgressFn& progress, std::wstring& message) {
      return buildPatchedEntry(*p.job.pack, *t->entry, t->source, t->outputPath, progress, message);
    });
    t->source = EntrySource();
    finishTask(p, *t);
  }
}

std::wstring outputPathFor(Pipeline& p, const std::wstring& relative) {
  std::wstring path = joinPath(p.job.stagingPath, nativeRelativePath(relative));
  createDirectoryChain(parentFolder(path));  // a failure shows when the file is written
  return path;
}

// Starts waiting entries while workers and memory allow: the first in start
// order that fits, and always one when nothing is in flight. Sources are read
// here, on the job's thread.
void startWaiting(Pipeline& p) {
  const PatchPack& pack = *p.job.pack;
  for (;;) {
    auto t = std::make_unique<Task>();
    {
      std::lock_guard<std::mutex> hold(p.lock);
      if (cancelled(p)) p.pending.clear();
      size_t failure = p.firstFailure.load();
      std::erase_if(p.pending, [&](size_t i) { return i > failure; });
      if (p.inFlight >= p.limits.workers) return;
      auto next = std::find_if(p.pending.begin(), p.pending.end(), [&](size_t i) {
        return p.inFlight == 0 || p.memoryInFlight + entryMemoryEstimate(pack.entries[i]) <= p.limits.memoryBudget;
      });
      if (next == p.pending.end()) return;
      t->index = *next;
      t->entry = &pack.entries[t->index];
      t->memory = entryMemoryEstimate(*t->entry);
      p.pending.erase(next);
      ++p.inFlight;
      p.memoryInFlight += t->memory;
      p.active[t->index] = outputPathOf(*t->entry);
      showLowest(p);
    }
    t->outputPath = outputPathFor(p, outputPathOf(*t->entry));
    std::wstring message;
    if (!readEntrySource(*p.job.source, *t->entry, t->source, message)) {
      if (!shouldStop(p, t->index)) recordFailure(p, t->index, message);
      finishTask(p, *t);
      continue;
    }
    std::lock_guard<std::mutex> hold(p.lock);
    p.ready.push_back(std::move(t));
    p.changed.notify_all();
  }
}

bool isPooledKind(uint32_t kind) { return kind == FileDelta || kind == BundlePatch; }

}  // namespace

PipelineLimits pipelineLimits() {
  PipelineLimits limits;
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  limits.workers = std::min(cores, kMaxWorkers);
  std::wstring text;
  if (platform().getEnvironment(kThreadsEnv, text) && !text.empty() && text.size() <= 3 &&
      std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
    unsigned n = unsigned(std::stoul(text));
    if (n >= 1 && n <= kMaxWorkers) limits.workers = n;
  }
  uint64_t memory = platform().physicalMemory ? platform().physicalMemory() : 0;
  limits.memoryBudget = memory == 0 ? UINT64_MAX : memory / 4;
  return limits;
}

uint64_t entryMemoryEstimate(const PackEntry& e) {
  // Source, result and delta blob (or encoded data and rebuilt file) are each
  // about the output's size; a bundle adds both payloads and the coders.
  uint64_t files = 3 * e.size;
  if (e.kind != BundlePatch) return files;
  return files + e.sourceDecodedSize + e.targetDecodedSize + kBundleCoderMemory;
}

std::vector<size_t> startOrder(const PatchPack& pack, const std::vector<size_t>& entries) {
  std::vector<size_t> order = entries;
  auto key = [&](size_t i) {
    const PackEntry& e = pack.entries[i];
    return std::pair<bool, uint64_t>(e.kind == BundlePatch, e.kind == BundlePatch ? e.targetDecodedSize : e.size);
  };
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(a) > key(b); });
  return order;
}

bool buildEntries(InstallContext& job, uint32_t cancelAfter, const PipelineLimits& limits, std::wstring& message) {
  Pipeline p(job, cancelAfter, limits);
  const PatchPack& pack = *job.pack;
  const bool pooled = limits.workers > 1;
  if (pooled) {
    std::vector<size_t> pooledEntries;
    for (size_t i = 0; i < pack.entries.size(); ++i) {
      if (isPooledKind(pack.entries[i].kind)) pooledEntries.push_back(i);
    }
    p.pending = startOrder(pack, pooledEntries);
    size_t threads = std::min<size_t>(limits.workers, p.pending.size());
    for (size_t i = 0; i < threads; ++i) p.workers.emplace_back(workerLoop, std::ref(p));
    startWaiting(p);
  }

  for (size_t i = 0; i < pack.entries.size(); ++i) {
    if (cancelled(p) || i > p.firstFailure.load()) break;
    const PackEntry& e = pack.entries[i];
    if (e.kind == Asset || skippedByOptions(e, *job.options)) continue;
    if (pooled && isPooledKind(e.kind)) continue;  // started by startWaiting
    const std::wstring& relative = outputPathOf(e);
    setActive(p, i, relative);
    if (isInstallable(e.kind)) {
      std::wstring outputPath = outputPathFor(p, relative);
      runEntry(p, i, e, [&](const ProgressFn& progress, std::wstring& text) {
        switch (e.kind) {
          case PackFile:
            return buildPackFile(pack, e, relative, outputPath, progress, text);
          case ArchiveCopy:
            return buildArchiveCopy(*job.source, e, relative, outputPath, progress, text);
          default: {
            EntrySource source;
            return readEntrySource(*job.source, e, source, text) &&
                   buildPatchedEntry(pack, e, source, outputPath, progress, text);
          }
        }
      });
    }
    clearActive(p, i);
    if (pooled) startWaiting(p);
  }

  if (pooled) {
    for (;;) {
      startWaiting(p);
      std::unique_lock<std::mutex> hold(p.lock);
      if (p.inFlight == 0 && p.pending.empty()) break;
      p.changed.wait_for(hold, kWaitStep);
    }
    {
      std::lock_guard<std::mutex> hold(p.lock);
      p.closing = true;
      p.changed.notify_all();
    }
    for (auto& w : p.workers) w.join();
  }

  if (p.state.cancelRequested) {
    message = kCancelledText;
    return false;
  }
  if (p.firstFailure.load() != SIZE_MAX) {
    message = p.failureText;
    return false;
  }
  return true;
}

}  // namespace velmo
