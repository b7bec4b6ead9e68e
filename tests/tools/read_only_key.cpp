// read-only-key.exe SUBKEY: creates HKEY_LOCAL_MACHINE\SUBKEY (64-bit view), leaves it
// open only for reading to everyone, as a locked-down machine might, says "ready" and
// waits for a line on standard input: Wine forgets a key's access list when its server
// stops, which it does once no program runs.
#include <windows.h>

#include <aclapi.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
    return 1;
  }
  EXPLICIT_ACCESSA access{};
  access.grfAccessPermissions = KEY_READ;
  access.grfAccessMode = SET_ACCESS;
  access.grfInheritance = NO_INHERITANCE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPSTR>(everyone);
  PACL acl = nullptr;
  DWORD status = SetEntriesInAclA(1, &access, nullptr, &acl);
  if (status == ERROR_SUCCESS) {
    // Protected, so that nothing inherited grants more.
    status = SetSecurityInfo(key, SE_REGISTRY_KEY,
                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                             nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
  }
  FreeSid(everyone);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return 1;
  std::puts("ready");
  std::fflush(stdout);
  char line[16];
  std::fgets(line, sizeof line, stdin);
  return 0;
}
