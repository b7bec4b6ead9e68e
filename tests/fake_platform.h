// A scripted, recording platform for unit tests: in-memory files and registry, scripted
// version and administrator answers, injectable failures. It never sleeps. Its errors are
// the Windows codes of platform/codes.h.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace lw {

class FakePlatform : public Platform {
 public:
  // --- Scripted inputs ---
  std::string exePath = "C:\\Tools\\vpnsetup.exe";
  std::vector<std::string> args;
  OsVersion version{6, 1};
  bool isAdmin = false;
  bool sidAllocationFails = false;
  bool membershipCallFails = false;
  std::vector<std::string> input;  // lines ReadLine hands out, in order
  std::map<std::string, std::string> env;
  // Lead bytes of the ANSI code page, as ranges of bytes; none: a single-byte code page.
  std::vector<std::pair<unsigned char, unsigned char>> leadByteRanges;
  // Those of code page 932 (Japanese), whose second bytes include 0x5C, the backslash.
  static inline const std::vector<std::pair<unsigned char, unsigned char>> kCp932LeadBytes = {
      {0x81, 0x9F}, {0xE0, 0xFC}};
  std::uintptr_t moduleBase = 0x400000;

  // Resources by upper-cased name and type.
  void AddResource(std::string name, std::uint32_t type, std::string bytes);

  // --- Registry ---
  struct RegValue {
    std::uint32_t type = 0;
    std::string data;
  };
  // Existing keys, by full upper-cased path such as "HKEY_LOCAL_MACHINE\SYSTEM\X".
  std::set<std::string> regKeys;
  // Values by upper-cased key path, then value name as written.
  std::map<std::string, std::map<std::string, RegValue>> regValues;
  // Keys (upper-cased full path) that refuse full access: create and full open fail with
  // access denied, a read open works.
  std::set<std::string> regReadOnlyKeys;
  SysError createKeyStatus = 0;               // non-zero: every CreateKey fails with it
  SysError openKeyStatus = 0;                 // non-zero: every OpenKey fails with it
  SysError setValueStatus = 0;                // non-zero: every SetValue fails with it
  SysError connectStatus = kErrorBadNetPath;  // ConnectRegistry result
  // The value stored under a key path (any letter case), if present.
  std::optional<RegValue> RegistryValue(const std::string& keyPath, const std::string& name) const;
  // Handles open right now.
  std::size_t OpenKeyCount() const { return regHandles_.size(); }

  // --- Files ---
  std::map<std::string, std::string> files;    // path -> bytes
  std::set<std::string> dirs;                  // folders that exist
  std::set<std::string> readOnlyDirs;          // new files refused here
  std::set<std::string> lockedFiles;           // open elsewhere for writing
  std::set<std::string> readOnlyFiles;         // readable, but replacing them is refused
  std::map<std::string, SysError> openErrors;  // OpenForRead of the path fails with this
  std::set<std::string> links;                 // links: paths through them are refused
  std::set<std::string> busyFiles;             // another run holds them past the wait
  std::set<std::string> envNotInCodePage;      // variables GetEnv cannot give exactly
  std::optional<std::size_t> shortReadBy;      // reads return this many bytes fewer
  std::optional<std::size_t> diskSpace;        // bytes left for writes
  // Files outside `files` and `dirs` (on the real disk, say), and other names of one file
  // (short names): what IdentifyFile finds there. Every other file and folder is itself
  // under one spelling, letter case ignored.
  std::map<std::string, FileIdentity> identities;
  bool flushFails = false;
  bool fullPathFails = false;  // FullPathName gives nothing, as for a name too long for it
  bool replaceFails = false;
  // Held by another program (a scanner, say) until the clock reaches the time given.
  std::map<std::string, std::uint64_t> heldUntil;
  // Drives and shares that do not answer ("Q:", "\\server\share").
  std::set<std::string> unreachableVolumes;
  // Files whose access list is their own (explicit entries, or protected from their
  // folder's), and folders where a new file cannot be given one (a share that grants
  // "Change" only): replacing such a file there is refused.
  std::set<std::string> ownAccessLists;
  std::set<std::string> sharesWithoutSecurityRights;
  // Another program that writes files: called at every ReplaceWith, before it looks.
  std::function<void(FakePlatform&, const std::string& target)> beforeReplace;
  // Adds a file and every folder above it.
  void AddFile(const std::string& path, std::string bytes);
  // Moves a file, as another program's rename would: it keeps its index.
  void RenameFile(const std::string& from, const std::string& to);
  // Files whose name contains `part` (for finding stray temporary files).
  std::vector<std::string> FilesContaining(const std::string& part) const;
  // Holds on files taken and not yet released.
  std::size_t HeldLocks() const { return locks_.size(); }
  // The clock: it moves only when the code sleeps.
  std::uint64_t clockMs = 0;

  // --- Recorded ---
  std::vector<std::string> lines;  // WriteLine output, without CR LF
  std::string errorOutput;         // WriteError output
  std::vector<std::uint32_t> sleeps;
  int readLineCalls = 0;
  // Probe and registry calls, in order; "FreeSid(bad)" and "CloseKey(bad)" release no
  // live handle.
  std::vector<std::string> calls;
  // One ordered record of what a user or another program could see: "line <text>",
  // "sleep <ms>", and the file calls "TrustFolder F", "LockFile P", "UnlockFile P",
  // "OpenForRead P", "RemoveStaleTemps P", "CreateTempBeside P", "ReplaceWith P",
  // "RemoveFile P".
  std::vector<std::string> events;
  // The file calls of `events` alone.
  std::vector<std::string> FileCalls() const;

  // --- Platform ---
  std::string ExecutablePath() override { return exePath; }
  std::vector<std::string> Arguments() override { return args; }
  void WriteLine(std::string_view line) override;
  void WriteError(std::string_view text) override { errorOutput += text; }
  std::string ReadLine() override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint64_t Milliseconds() override { return clockMs; }
  std::uintptr_t ModuleBase() override { return moduleBase; }

  OsVersion GetVersion() override { return version; }
  SysError AllocateAdminsSid(SidHandle& sid) override;
  SysError CheckTokenMembership(SidHandle sid, bool& member) override;
  void FreeSid(SidHandle sid) override;

  SysError CreateKey(RegKey base, std::string_view subKey, std::uint32_t access,
                     RegKey& key) override;
  SysError OpenKey(RegKey base, std::string_view subKey, std::uint32_t access,
                   RegKey& key) override;
  SysError SetValue(RegKey key, std::string_view name, std::uint32_t type,
                    std::string_view data) override;
  void CloseKey(RegKey key) override;
  SysError ConnectRegistry(std::string_view machine, RegKey root, RegKey& key) override;

  SysError GetEnv(std::string_view name, std::string& value) override;
  void TrustFolder(std::string_view folder) override;
  bool IsFullPath(std::string_view path) override;
  void CreateDirectories(std::string_view path) override;

  SysError LockFile(std::string_view path, std::uint32_t timeoutMs, LockHandle& lock) override;
  void UnlockFile(LockHandle lock) override;
  SysError OpenForRead(std::string_view path, FileHandle& file) override;
  SysError GetFileSize(FileHandle file, std::uint64_t& size) override;
  SysError GetFileStamp(FileHandle file, FileStamp& stamp) override;
  SysError ReadFile(FileHandle file, char* buffer, std::size_t size, std::size_t& done) override;
  SysError CreateTempBeside(std::string_view target, FileHandle& file,
                            std::string& tempPath) override;
  SysError WriteFile(FileHandle file, std::string_view data, std::size_t& done) override;
  SysError FlushFile(FileHandle file) override;
  void CloseFile(FileHandle file) override;
  SysError ReplaceWith(FileHandle temp, std::string_view tempPath, std::string_view target,
                       const ExpectedFile& expected) override;
  SysError RemoveFile(std::string_view path) override;
  SysError IdentifyFile(std::string_view path, std::optional<FileIdentity>& identity) override;
  void RemoveStaleTemps(std::string_view target) override;

  std::string FullPathName(std::string_view path) override;
  std::string SystemErrorText(SysError error) override;
  bool IsLeadByte(char byte) const override;
  void UpperCase(char* bytes, std::size_t size) override;
  SysError FindResourceData(std::string_view name, std::uint32_t type,
                            std::string_view& data) override;

  // Open handles of any kind (files and keys); tests check nothing leaks.
  std::size_t OpenFileCount() const { return fileHandles_.size(); }

 private:
  struct RegHandle {
    std::string path;
    std::uint32_t access = 0;
  };
  struct FileState {
    std::string path;
    bool writing = false;
    std::size_t position = 0;
    std::string written;
  };
  std::string KeyPath(RegKey base, std::string_view subKey) const;
  // kErrorLinkRefused when `path` is, or lies below, one of `links`.
  SysError ThroughLink(const std::string& path) const;
  bool IsOpen(const std::string& path) const;
  // kErrorSharingViolation while another program holds `path`, kErrorVolumeUnreachable
  // below a volume that does not answer.
  SysError HeldOrAway(const std::string& path) const;
  // The file at `path` as GetFileStamp gives it: its index stays with it when it is
  // renamed, its "last write" follows its bytes.
  FileStamp StampOf(const std::string& path);
  FileIdentity IdentityOf(const std::string& path);

  std::map<std::pair<std::string, std::uint32_t>, std::string> resources_;
  std::map<RegKey, RegHandle> regHandles_;
  std::uintptr_t nextKey_ = 0x1000;
  std::map<FileHandle, FileState> fileHandles_;
  std::intptr_t nextFile_ = 100;
  int nextTemp_ = 0;
  std::map<std::string, std::uint64_t> fileIndexes_;
  std::uint64_t nextIndex_ = 1;
  std::map<LockHandle, std::string> locks_;
  std::intptr_t nextLock_ = 1;
  SidHandle liveSid_ = kNoSid;
};

}  // namespace lw
