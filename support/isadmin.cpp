#include "support/isadmin.h"

#include "platform/handles.h"

namespace lw {

bool IsUserAdmin(Platform& platform) {
  SidHandle sid = kNoSid;
  if (platform.AllocateAdminsSid(sid) != 0) return false;
  const SidGuard guard(platform, sid);
  bool member = false;
  if (platform.CheckTokenMembership(sid, member) != 0) return false;
  return member;
}

}  // namespace lw
