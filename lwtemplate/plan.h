// lwtemplate plan: what a per-user run would do to one phonebook, worked out by the run's
// own pre-check and pass on the document in memory. Nothing is held, nothing written.
#pragma once

#include <string>

#include "app/run_flags.h"
#include "ini/mem_ini_file.h"
#include "support/log.h"

namespace lw {

class Platform;

struct PhonebookPlan {
  bool stopped = false;  // the run ends at this phonebook: it could not be read
  bool existed = false;  // the phonebook was there to read
  bool written = false;  // the run would write it (create it, or change its bytes)
  bool kept = false;     // a phonebook stands there after the run
  std::string before;    // its bytes before the run
  std::string after;     // its bytes after the run, when `kept`
};

// The run's lines for the phonebook at `path` go to `log`, in the run's order: the
// pre-check's (when creation is on), "* processing *.pbk", the pass's; a phonebook the run
// cannot read ends them with the run's "* exception: " line. `flags` are those of a
// per-user run (not all-users mode) after start-up.
PhonebookPlan PlanUserPhonebook(Platform& platform, Log& log, const TMemIniFile& templ,
                                const std::string& path, RunFlags flags);

}  // namespace lw
