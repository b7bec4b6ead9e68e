// Another program at a phonebook, under wine64.
//   hold-file.exe PATH read|write|scan|exclusive [MS]: keeps PATH open until a line arrives
//     on standard input, or for MS milliseconds. "read" shares reading only; "write" holds
//     it for writing; "scan" reads sharing reading and writing, not deleting (a scanner);
//     "exclusive" reads sharing nothing (a backup agent).
//   hold-file.exe PATH append COUNT MS: saves PATH COUNT times, MS milliseconds apart, in
//     place, each time with one more entry "[Writer n]" at its end, as the connection UI
//     saves a connection; waits while others hold it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Opens PATH, trying again while another program holds it.
HANDLE OpenWaiting(const char* path, DWORD access, DWORD share) {
  for (;;) {
    const HANDLE file = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) return file;
    Sleep(1);
  }
}

bool AppendEntry(const char* path, int n) {
  const HANDLE file = OpenWaiting(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string text(GetFileSize(file, nullptr), '\0');
  DWORD done = 0;
  bool ok = ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
            done == text.size();
  text += "[Writer " + std::to_string(n) + "]\r\nType=1\r\n\r\n";
  ok = ok && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
       WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
       done == text.size() && SetEndOfFile(file);
  CloseHandle(file);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[2];
  if (mode == "append") {
    if (argc != 5) return 2;
    const int count = std::atoi(argv[3]);
    for (int n = 0; n < count; ++n) {
      if (!AppendEntry(argv[1], n)) return 1;
      Sleep(static_cast<DWORD>(std::atoi(argv[4])));
    }
    std::puts("appended");
    return 0;
  }
  const struct {
    const char* name;
    DWORD access;
    DWORD share;
  } modes[] = {
      {"read", GENERIC_READ, FILE_SHARE_READ},
      {"write", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {"scan", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE},
      {"exclusive", GENERIC_READ, 0},
  };
  for (const auto& m : modes) {
    if (mode != m.name) continue;
    const HANDLE file = CreateFileA(argv[1], m.access, m.share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::puts("held");
    std::fflush(stdout);
    if (argc == 4) {
      Sleep(static_cast<DWORD>(std::atoi(argv[3])));
    } else {
      char line[16];
      std::fgets(line, sizeof line, stdin);
    }
    CloseHandle(file);
    return 0;
  }
  return 2;
}
