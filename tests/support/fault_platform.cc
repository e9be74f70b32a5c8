#include "support/fault_platform.h"

#include <mutex>

namespace velmo::test {
namespace {

// The table holds plain function pointers, so its state is the process's.
struct FaultState {
  std::mutex lock;
  FaultMode mode = FaultMode::None;
  uint64_t at = 0;
  uint64_t count = 0;
  FaultCall first;
  std::vector<FaultCall> trace;
  std::map<FileHandle, std::wstring> open;  // handles this table gave out, still open, and their paths
  std::map<std::wstring, std::wstring> environment;
  bool nextProcess = false;
};

FaultState& state() {
  static FaultState* s = new FaultState;
  return *s;
}

const PlatformOps& native() { return nativePlatform(); }

// Counts the call; true when it is to fail.
bool fails(const char* op, const std::wstring& path = std::wstring()) {
  FaultState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  uint64_t n = ++s.count;
  bool fail = (s.mode == FaultMode::Once && n == s.at) || (s.mode == FaultMode::PowerCut && n >= s.at);
  if (fail && s.first.op.empty()) s.first = {op, path};
  s.trace.push_back({op, path});
  return fail;
}

bool cut() {
  FaultState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.mode == FaultMode::PowerCut && s.count >= s.at;
}

FileHandle opened(FileHandle h, const std::wstring& path) {
  if (h != kInvalidFile) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().open[h] = path;
  }
  return h;
}

std::wstring pathOf(FileHandle h) {
  std::lock_guard<std::mutex> hold(state().lock);
  auto it = state().open.find(h);
  return it == state().open.end() ? std::wstring() : it->second;
}

void forget(FileHandle h) {
  std::lock_guard<std::mutex> hold(state().lock);
  state().open.erase(h);
}

FileHandle openFileRead(const std::wstring& path) {
  return fails("openFileRead", path) ? kInvalidFile : opened(native().openFileRead(path), path);
}
FileHandle createFile(const std::wstring& path) {
  return fails("createFile", path) ? kInvalidFile : opened(native().createFile(path), path);
}
FileHandle createNewFile(const std::wstring& path) {
  return fails("createNewFile", path) ? kInvalidFile : opened(native().createNewFile(path), path);
}
FileHandle lockFile(const std::wstring& path) {
  return fails("lockFile", path) ? kInvalidFile : opened(native().lockFile(path), path);
}

bool writeFile(FileHandle file, const void* data, size_t size) {
  if (!fails("writeFile", pathOf(file))) return native().writeFile(file, data, size);
  // A full disk takes what fits; a cut takes nothing.
  if (!cut() && size > 1) native().writeFile(file, data, size / 2);
  return false;
}

bool readFile(FileHandle file, void* data, size_t size, size_t& got) {
  return !fails("readFile", pathOf(file)) && native().readFile(file, data, size, got);
}

// A read cut short where the file is not at its end, as a file truncated
// meanwhile reads.
bool readFileAt(FileHandle file, uint64_t offset, void* data, size_t size, size_t& got) {
  if (!fails("readFileAt", pathOf(file))) return native().readFileAt(file, offset, data, size, got);
  if (cut() || size < 2 || !native().readFileAt(file, offset, data, size / 2, got)) return false;
  return true;
}

bool fileSize(FileHandle file, uint64_t& size) { return !fails("fileSize", pathOf(file)) && native().fileSize(file, size); }
// Flushes are counted and fail like any call, but what they make durable
// is no concern of a sweep, and the disk's time is saved.
bool flushFile(FileHandle file) { return !fails("flushFile", pathOf(file)); }

// Closing cannot fail; in a cut it does nothing, and the end of the
// process closes what is left.
void closeFile(FileHandle file) {
  if (cut()) return;
  forget(file);
  native().closeFile(file);
}
void unlockFile(FileHandle lock, const std::wstring& path) {
  if (cut()) return;
  forget(lock);
  native().unlockFile(lock, path);
}

bool deleteFile(const std::wstring& path) { return !fails("deleteFile", path) && native().deleteFile(path); }
bool createDirectory(const std::wstring& path, bool& alreadyExists) {
  alreadyExists = false;
  return !fails("createDirectory", path) && native().createDirectory(path, alreadyExists);
}
bool createPrivateDirectory(const std::wstring& path) {
  return !fails("createPrivateDirectory", path) && native().createPrivateDirectory(path);
}
bool removeDirectory(const std::wstring& path) {
  return !fails("removeDirectory", path) && native().removeDirectory(path);
}

// The first half of the entries, then an error.
bool listed(const char* op, const std::wstring& path, std::vector<DirEntry>& entries,
            bool (*list)(const std::wstring&, std::vector<DirEntry>&)) {
  bool fail = fails(op, path);
  bool ok = list(path, entries);
  if (!fail) return ok;
  entries.resize(entries.size() / 2);
  return false;
}
bool listDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  return listed("listDirectory", path, entries, native().listDirectory);
}
bool listLinkedDirectory(const std::wstring& path, std::vector<DirEntry>& entries) {
  return listed("listLinkedDirectory", path, entries, native().listLinkedDirectory);
}

bool pathExists(const std::wstring& path) { return !fails("pathExists", path) && native().pathExists(path); }
bool isDirectory(const std::wstring& path) { return !fails("isDirectory", path) && native().isDirectory(path); }
bool pathInfo(const std::wstring& path, PathInfo& info) {
  return !fails("pathInfo", path) && native().pathInfo(path, info);
}
bool moveReplace(const std::wstring& from, const std::wstring& to) {
  return !fails("moveReplace", from) && native().moveReplace(from, to);
}
// A failed rename is a plain refusal, never the other-volume answer.
bool renameReplace(const std::wstring& from, const std::wstring& to, bool& otherVolume) {
  otherVolume = false;
  return !fails("renameReplace", from) && native().renameReplace(from, to, otherVolume);
}
bool flushDirectory(const std::wstring& path) { return !fails("flushDirectory", path) && native().isDirectory(path); }
bool freeSpace(const std::wstring& path, uint64_t& bytes) {
  return !fails("freeSpace", path) && native().freeSpace(path, bytes);
}
bool hideFile(const std::wstring& path) { return !fails("hideFile", path) && native().hideFile(path); }
std::wstring tempFolder() { return fails("tempFolder") ? std::wstring() : native().tempFolder(); }

bool getEnvironment(const std::wstring& name, std::wstring& value) {
  if (fails("getEnvironment", name)) return false;
  {
    std::lock_guard<std::mutex> hold(state().lock);
    auto it = state().environment.find(name);
    if (it != state().environment.end()) {
      value = it->second;
      return true;
    }
  }
  return native().getEnvironment(name, value);
}

bool actingAsNext() {
  std::lock_guard<std::mutex> hold(state().lock);
  return state().nextProcess;
}
uint32_t processId() { return native().processId() + (actingAsNext() ? 1 : 0); }
bool processExists(uint32_t pid) {
  if (actingAsNext() && pid == native().processId()) return false;
  return native().processExists(pid);
}

// A new operation must be looked at here: counted and failed, or passed
// through on purpose (those that cannot fail, or are no file-system call).
static_assert(sizeof(PlatformOps) == 37 * sizeof(void*), "wrap the new platform operation or pass it through");

PlatformOps faultOps() {
  PlatformOps o = nativePlatform();
  o.openFileRead = openFileRead;
  o.createFile = createFile;
  o.createNewFile = createNewFile;
  o.writeFile = writeFile;
  o.readFile = readFile;
  o.readFileAt = readFileAt;
  o.fileSize = fileSize;
  o.flushFile = flushFile;
  o.closeFile = closeFile;
  o.deleteFile = deleteFile;
  o.createDirectory = createDirectory;
  o.createPrivateDirectory = createPrivateDirectory;
  o.removeDirectory = removeDirectory;
  o.listDirectory = listDirectory;
  o.pathExists = pathExists;
  o.isDirectory = isDirectory;
  o.pathInfo = pathInfo;
  o.moveReplace = moveReplace;
  o.renameReplace = renameReplace;
  o.flushDirectory = flushDirectory;
  o.freeSpace = freeSpace;
  o.tempFolder = tempFolder;
  o.getEnvironment = getEnvironment;
  o.processId = processId;
  o.processExists = processExists;
  o.lockFile = lockFile;
  o.unlockFile = unlockFile;
  o.hideFile = hideFile;
  o.listLinkedDirectory = listLinkedDirectory;
  return o;
}

}  // namespace

FaultPlatform::FaultPlatform() : ops_(faultOps()) {
  disarm();
  override_ = new ScopedPlatformOverride(ops_);
}

FaultPlatform::~FaultPlatform() {
  delete override_;
  FaultState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.mode = FaultMode::None;
  s.environment.clear();
  s.nextProcess = false;
}

void FaultPlatform::arm(FaultMode mode, uint64_t at) {
  FaultState& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.mode = mode;
  s.at = at;
  s.count = 0;
  s.first = FaultCall();
  s.trace.clear();
}

uint64_t FaultPlatform::calls() const {
  std::lock_guard<std::mutex> hold(state().lock);
  return state().count;
}

FaultCall FaultPlatform::failed() const {
  std::lock_guard<std::mutex> hold(state().lock);
  return state().first;
}

std::vector<FaultCall> FaultPlatform::trace() const {
  std::lock_guard<std::mutex> hold(state().lock);
  return state().trace;
}

void FaultPlatform::closeLeftHandles() {
  std::map<FileHandle, std::wstring> left;
  {
    std::lock_guard<std::mutex> hold(state().lock);
    left.swap(state().open);
  }
  for (const auto& [h, path] : left) native().closeFile(h);
}

void FaultPlatform::setEnvironment(const std::wstring& name, const std::wstring& value) {
  std::lock_guard<std::mutex> hold(state().lock);
  state().environment[name] = value;
}

void FaultPlatform::actAsNextProcess(bool on) {
  std::lock_guard<std::mutex> hold(state().lock);
  state().nextProcess = on;
}

}  // namespace velmo::test
