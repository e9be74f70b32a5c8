#include "install/folder_ops.h"

#include <map>
#include <set>
#include <vector>

#include "platform/platform.h"

namespace velmo {

namespace {

// One entry of a move, in the order it is carried out: a folder comes
// before what goes into it.
struct MoveStep {
  std::wstring from;
  std::wstring to;
  bool isFolder = false;
  bool targetExists = false;  // a folder to merge into, or a file to replace
  bool copy = false;          // the target folder lies on another volume
  // Filled while the step is carried out, for putting things back.
  std::wstring aside;  // the replaced file, kept until the move is complete
  std::wstring part;   // the copy being written beside the target
  bool done = false;
};

struct VolumeNeed {
  uint64_t volume;
  std::wstring folder;
  uint64_t bytes;
};

struct MovePlan {
  uint64_t sourceVolume = 0;
  std::vector<MoveStep> steps;
  std::vector<VolumeNeed> copies;  // bytes to copy onto each other volume
};

bool leadsToFolder(const PathInfo& info) {
  return info.type == EntryType::Directory || (info.type == EntryType::Link && info.linkedType == EntryType::Directory);
}

void addCopyNeed(MovePlan& plan, uint64_t volume, const std::wstring& folder, uint64_t bytes) {
  for (auto& need : plan.copies) {
    if (need.volume == volume) {
      need.bytes = bytes > UINT64_MAX - need.bytes ? UINT64_MAX : need.bytes + bytes;
      return;
    }
  }
  plan.copies.push_back({volume, folder, bytes});
}

// Checks every target of source's tree against target (which exists when
// targetExists, on targetVolume) and lists the steps; false at the first
// target whose kind differs, that cannot be written, or a source that
// cannot be read.
bool planMove(const std::wstring& source, const std::wstring& target, bool targetExists, uint64_t targetVolume,
              MovePlan& plan, const std::wstring& leave = std::wstring()) {
  const PlatformOps& os = platform();
  std::vector<DirEntry> entries;
  if (!os.listDirectory(source, entries)) return false;
  for (const auto& e : entries) {
    if (!leave.empty() && e.name == leave) continue;
    MoveStep step;
    step.from = joinPath(source, e.name);
    step.to = joinPath(target, e.name);
    PathInfo there;
    bool exists = targetExists && os.pathInfo(step.to, there);
    if (e.type == EntryType::Directory) {
      // Links to folders are the user's choice: merged into, followed.
      if (exists && !(leadsToFolder(there) && there.writable)) return false;
      step.isFolder = true;
      step.targetExists = exists;
      uint64_t volume = exists ? there.volume : targetVolume;
      plan.steps.push_back(step);
      if (!planMove(step.from, step.to, exists, volume, plan)) return false;
      continue;
    }
    // A file replaces a file or a link (the link itself, not what it points
    // to); never a folder or a link to one.
    bool replaceable = there.type == EntryType::File || (there.type == EntryType::Link && !leadsToFolder(there));
    if (exists && !(replaceable && there.writable)) return false;
    step.targetExists = exists;
    step.copy = targetVolume != plan.sourceVolume;
    if (step.copy) {
      // Only plain files can be copied; a staged link moves by rename only.
      PathInfo from;
      if (e.type != EntryType::File || !os.pathInfo(step.from, from)) return false;
      addCopyNeed(plan, targetVolume, target, from.size);
    }
    plan.steps.push_back(step);
  }
  return true;
}

// A free name beside path for a temporary or a kept-aside file.
std::wstring besidePath(const std::wstring& path, const wchar_t* tag) {
  const PlatformOps& os = platform();
  std::wstring folder = parentFolder(path);
  std::wstring name = path.substr(folder.size() + 1);
  for (unsigned n = 0;; ++n) {
    std::wstring candidate = joinPath(folder, L"." + name + tag + std::to_wstring(n));
    if (!os.pathExists(candidate)) return candidate;
  }
}

// Copies a file to a new file and flushes it.
bool copyFileFlushed(const std::wstring& from, const std::wstring& to) {
  const PlatformOps& os = platform();
  FileHandle in = os.openFileRead(from);
  if (in == kInvalidFile) return false;
  FileHandle out = os.createNewFile(to);
  if (out == kInvalidFile) {
    os.closeFile(in);
    return false;
  }
  std::vector<uint8_t> chunk(1 << 20);
  bool ok = true;
  for (;;) {
    size_t got = 0;
    if (!os.readFile(in, chunk.data(), chunk.size(), got)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    if (!os.writeFile(out, chunk.data(), got)) {
      ok = false;
      break;
    }
  }
  ok = ok && os.flushFile(out);
  os.closeFile(out);
  os.closeFile(in);
  return ok;
}

// The staged file copied beside its target, to be renamed over it.
bool copyBeside(MoveStep& step) {
  step.part = besidePath(step.to, L".velmo-part-");
  return copyFileFlushed(step.from, step.part);
}

bool carryOut(MoveStep& step) {
  const PlatformOps& os = platform();
  if (step.isFolder) {
    if (step.targetExists) return true;
    bool alreadyExists = false;
    step.done = os.createDirectory(step.to, alreadyExists);
    return step.done;
  }
  if (step.copy && !copyBeside(step)) return false;
  if (step.targetExists) {
    std::wstring aside = besidePath(step.to, L".velmo-old-");
    if (!os.moveReplace(step.to, aside)) return false;
    step.aside = aside;
  }
  if (!step.copy) {
    bool otherVolume = false;
    if (os.renameReplace(step.from, step.to, otherVolume)) return step.done = true;
    // Two volumes that share an identifier look like one to the plan; only
    // the rename tells them apart.
    if (!otherVolume) return false;
    step.copy = true;
    if (!copyBeside(step)) return false;
  }
  if (!os.moveReplace(step.part, step.to)) return false;
  step.part.clear();
  step.done = true;
  return true;
}

// A name that an earlier move into folder left beside the target name: "."
// + name + tag + a number.
bool leftBeside(const std::wstring& entry, const std::wstring& name, const wchar_t* tag) {
  std::wstring stem = L"." + name + tag;
  if (entry.size() <= stem.size() || entry.compare(0, stem.size(), stem) != 0) return false;
  return entry.find_first_not_of(L"0123456789", stem.size()) == std::wstring::npos;
}

// Puts one step back: the staged file to its source, the replaced file to
// its place, a created folder removed.
void putBack(MoveStep& step) {
  const PlatformOps& os = platform();
  if (step.isFolder) {
    if (step.done) os.removeDirectory(step.to);
    return;
  }
  if (step.done) {
    if (step.copy) {
      os.deleteFile(step.to);
    } else {
      os.moveReplace(step.to, step.from);
    }
  }
  if (!step.part.empty()) os.deleteFile(step.part);
  if (!step.aside.empty()) os.moveReplace(step.aside, step.to);
}

// Everything the plan moved has left the source: an entry a listing passed
// over would still be there. Its folders, and files copied to another
// volume, stay until the move is complete.
bool sourceLeftEmpty(const std::wstring& source, const MovePlan& plan, const std::wstring& leave) {
  const PlatformOps& os = platform();
  std::set<std::wstring> staying;
  for (const auto& step : plan.steps) {
    if (step.copy || step.isFolder) staying.insert(step.from);
  }
  auto holdsOnlyExpected = [&](const std::wstring& folder, bool top) {
    std::vector<DirEntry> entries;
    if (!os.listDirectory(folder, entries)) return false;
    for (const auto& e : entries) {
      if (top && !leave.empty() && e.name == leave) continue;
      if (!staying.count(joinPath(folder, e.name))) return false;
    }
    return true;
  };
  if (!holdsOnlyExpected(source, true)) return false;
  for (const auto& step : plan.steps) {
    if (step.isFolder && !holdsOnlyExpected(step.from, false)) return false;
  }
  return true;
}

}  // namespace

bool moveTreeInto(const std::wstring& source, const std::wstring& target, const std::wstring& leave,
                  const std::function<bool()>& proveInPlace) {
  const PlatformOps& os = platform();
  PathInfo from, into;
  if (!os.pathInfo(source, from) || from.type != EntryType::Directory) return false;
  if (!os.pathInfo(target, into) || !leadsToFolder(into) || !into.writable) return false;
  MovePlan plan;
  plan.sourceVolume = from.volume;
  if (!planMove(source, target, true, into.volume, plan, leave)) return false;
  for (const auto& need : plan.copies) {
    uint64_t available = 0;
    if (os.freeSpace(need.folder, available) && available < need.bytes) return false;
  }

  auto putBackUpTo = [&](size_t last) {
    // Never cut short by a cancel: a player's file would stay under its
    // kept-aside name.
    HeldFileRetryPhase puttingBack(nullptr);
    for (size_t j = last + 1; j-- > 0;) putBack(plan.steps[j]);
    return false;
  };
  for (size_t i = 0; i < plan.steps.size(); ++i) {
    if (!carryOut(plan.steps[i])) return putBackUpTo(i);
  }
  // Nothing is final until the result is proven where it lies.
  if (!sourceLeftEmpty(source, plan, leave) || (proveInPlace && !proveInPlace())) {
    return plan.steps.empty() ? false : putBackUpTo(plan.steps.size() - 1);
  }
  // Complete: the renames are made durable before the old files go.
  os.flushDirectory(target);
  for (const auto& step : plan.steps) {
    if (step.isFolder) os.flushDirectory(step.to);
  }
  std::map<std::wstring, std::vector<DirEntry>> besideNames;  // listed once per folder
  for (const auto& step : plan.steps) {
    if (step.isFolder) continue;
    // A file copied to another volume is still in the source.
    if (step.copy) os.deleteFile(step.from);
    // A replaced file that is still open (the running game's exe) cannot go
    // yet; hidden, it waits for the next move into this folder.
    if (!step.aside.empty() && !os.deleteFile(step.aside)) os.hideFile(step.aside);
    // What an earlier move left beside this target (killed, or kept open)
    // is stale now that the target holds its proven file: every such name,
    // whatever its number (a lower one may have gone already).
    std::wstring folder = parentFolder(step.to);
    auto listed = besideNames.find(folder);
    if (listed == besideNames.end()) {
      listed = besideNames.emplace(folder, std::vector<DirEntry>()).first;
      os.listDirectory(folder, listed->second);
    }
    std::wstring name = step.to.substr(folder.size() + 1);
    for (const auto& e : listed->second) {
      std::wstring stale = joinPath(folder, e.name);
      if (stale == step.aside || e.type != EntryType::File) continue;
      if (leftBeside(e.name, name, L".velmo-old-") || leftBeside(e.name, name, L".velmo-part-")) os.deleteFile(stale);
    }
  }
  for (size_t j = plan.steps.size(); j-- > 0;) {
    if (plan.steps[j].isFolder) os.removeDirectory(plan.steps[j].from);
  }
  return true;
}

}  // namespace velmo
