// watch-file.exe PATH attributes|open: looks for PATH in a tight loop until standard input
// ends, then prints "probes=N absent=N other=N". "attributes" asks for its attributes and
// holds no handle; "open" opens and closes it, sharing everything, as a reader would.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool> stop{false};

DWORD WINAPI WaitForInputEnd(void*) {
  char buffer[64];
  DWORD got = 0;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got != 0) {
  }
  stop = true;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const char* path = argv[1];
  const bool open = std::strcmp(argv[2], "open") == 0;
  const HANDLE waiter = CreateThread(nullptr, 0, WaitForInputEnd, nullptr, 0, nullptr);
  if (waiter == nullptr) return 1;
  std::puts("watching");
  std::fflush(stdout);
  unsigned long long probes = 0;
  unsigned long long absent = 0;
  unsigned long long other = 0;
  while (!stop) {
    DWORD error = 0;
    if (open) {
      const HANDLE file =
          CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
      } else {
        CloseHandle(file);
      }
    } else if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
      error = GetLastError();
    }
    ++probes;
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      ++absent;
    } else if (error != 0) {
      ++other;
    }
  }
  WaitForSingleObject(waiter, INFINITE);
  CloseHandle(waiter);
  std::printf("probes=%llu absent=%llu other=%llu\n", probes, absent, other);
  return 0;
}
