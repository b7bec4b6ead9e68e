#include "support/isadmin.h"

namespace lw {
namespace {

// Frees an allocated group identifier when it goes out of scope.
class SidGuard {
 public:
  SidGuard(Platform& platform, SidHandle sid) : platform_(platform), sid_(sid) {}
  SidGuard(const SidGuard&) = delete;
  SidGuard& operator=(const SidGuard&) = delete;
  ~SidGuard() noexcept { platform_.FreeSid(sid_); }

 private:
  Platform& platform_;
  SidHandle sid_;
};

}  // namespace

bool IsUserAdmin(Platform& platform) {
  SidHandle sid = 0;
  if (platform.AllocateAdminsSid(sid) != 0) return false;
  const SidGuard guard(platform, sid);
  bool member = false;
  if (platform.CheckTokenMembership(sid, member) != 0) return false;
  return member;
}

}  // namespace lw
