// The Windows test kit's runner (bin\kit_runner.exe, started by
// run-tests.cmd): runs every test program listed in tests.txt from the kit's
// bin folder with the kit's data, keeps each one's output in logs\, and ends
// with one line "N passed, N failed" over all test cases. A program that
// ends without GoogleTest's summary counts as one failure. Exit code 0 only
// when nothing failed.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::wstring parentOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

std::wstring widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), out.data(), n);
  return out;
}

struct Counts {
  int passed = 0, failed = 0, skipped = 0;
  bool summary = false;
};

// GoogleTest's closing lines: "[  PASSED  ] 12 tests.", "[  FAILED  ] 2
// tests, listed below:", "[  SKIPPED ] 1 test, listed below:".
Counts readSummary(const std::string& log) {
  Counts c;
  std::istringstream lines(log);
  std::string line;
  int n = 0;
  char tail[32];
  while (std::getline(lines, line)) {
    if (std::sscanf(line.c_str(), "[  PASSED  ] %d test%31s", &n, tail) == 2) c.passed = n, c.summary = true;
    if (std::sscanf(line.c_str(), "[  FAILED  ] %d test%31s", &n, tail) == 2) c.failed = n;
    if (std::sscanf(line.c_str(), "[  SKIPPED ] %d test%31s", &n, tail) == 2) c.skipped = n;
  }
  return c;
}

// Runs one command line in `folder` with its output into logPath; the exit
// code, or -1 when it could not start.
int run(const std::wstring& program, const std::wstring& arguments, const std::wstring& folder,
        const std::wstring& logPath) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE log = CreateFileW(logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  if (log == INVALID_HANDLE_VALUE) return -1;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = log;
  startup.hStdError = log;
  PROCESS_INFORMATION process{};
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                                &startup, &process);
  CloseHandle(log);
  if (!started) return -1;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = DWORD(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return int(code);
}

std::string readFile(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main() {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return 2;
  const std::wstring bin = parentOf(self), kit = parentOf(bin), logs = kit + L"\\logs";
  SetEnvironmentVariableW(L"VELMO_KIT_DIR", kit.c_str());
  CreateDirectoryW(logs.c_str(), nullptr);

  std::ifstream list(std::filesystem::path(kit + L"\\tests.txt"));
  if (!list) {
    std::printf("tests.txt is missing beside run-tests.cmd\n0 passed, 1 failed\n");
    return 1;
  }
  Counts total;
  std::string line;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t space = line.find(' ');
    std::string name = line.substr(0, space);
    std::wstring arguments = space == std::string::npos ? L"" : widen(line.substr(space + 1));
    std::wstring logPath = logs + L"\\" + widen(name) + L".txt";
    std::printf("%s ...\n", name.c_str());
    std::fflush(stdout);
    int code = run(bin + L"\\" + widen(name), arguments, bin, logPath);
    std::string log = readFile(logPath);
    Counts c = readSummary(log);
    if (!c.summary || (code != 0 && c.failed == 0)) ++c.failed;  // crashed, or failed outside a test
    if (c.failed > 0) std::printf("%s", log.c_str());
    std::printf("%s: %d passed, %d failed, %d skipped (exit code %d, log in logs\\%s.txt)\n", name.c_str(), c.passed,
                c.failed, c.skipped, code, name.c_str());
    total.passed += c.passed;
    total.failed += c.failed;
    total.skipped += c.skipped;
  }
  std::printf("%d skipped (each names its reason in its log)\n", total.skipped);
  std::printf("%d passed, %d failed\n", total.passed, total.failed);
  return total.failed == 0 ? 0 : 1;
}
