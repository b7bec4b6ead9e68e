// hold-file.exe PATH read|write: keeps PATH open, as another program would, until a line
// arrives on standard input. "read" shares reading only; "write" holds it for writing.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const bool write = std::strcmp(argv[2], "write") == 0;
  const HANDLE file = CreateFileA(argv[1], write ? GENERIC_WRITE : GENERIC_READ,
                                  write ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::puts("held");
  std::fflush(stdout);
  char line[16];
  std::fgets(line, sizeof line, stdin);
  CloseHandle(file);
  return 0;
}
