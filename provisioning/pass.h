// The work on one phonebook: enforce managed values, create missing entries.
#pragma once

#include "ini/mem_ini_file.h"
#include "provisioning/gateway.h"
#include "support/log.h"

namespace lw {

// Writes every managed section's "set" assignments into each phonebook entry that its
// "id" identifies; then, when `create` is set, copies each creatable entry the phonebook
// lacks (an entry whose section has no line counts as lacking), with a derived Guid.
// Changes only the document; logs its own errors and never raises.
void ProcessPhonebook(Log& log, const TMemIniFile& templ, TMemIniFile& phonebook, bool create,
                      GatewayOverride gateway);

}  // namespace lw
