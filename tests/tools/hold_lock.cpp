// hold-lock.exe PATH: takes the hold a run of the tool takes on the file PATH, prints
// "held" and keeps it until a line arrives on standard input, or the process is killed.
#include <cstdio>

#include "platform/system_platform.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const auto platform = lw::CreateSystemPlatform(argc, argv);
  lw::LockHandle lock = lw::kNoLock;
  if (platform->LockFile(argv[1], 0, lock) != 0) return 1;
  std::puts("held");
  std::fflush(stdout);
  char line[16];
  std::fgets(line, sizeof line, stdin);
  platform->UnlockFile(lock);
  return 0;
}
