#include "lwtemplate/plan.h"

#include <exception>
#include <memory>

#include "app/provisioning_run.h"
#include "ini/text_file.h"

namespace lw {

PhonebookPlan PlanUserPhonebook(Platform& platform, Log& log, const TMemIniFile& templ,
                                const std::string& path, RunFlags flags) {
  PhonebookPlan plan;
  // The run reads the phonebook for its pre-check and again for its pass, and writes it
  // after each; the second reading gives the first one's text, normalised, which is what
  // one document worked on twice holds.
  std::unique_ptr<TMemIniFile> phonebook;
  try {
    if (flags.CreateEnabled) {
      log.Line("* reading: " + path);
      phonebook = std::make_unique<TMemIniFile>(platform, path);
      if (phonebook->Loaded()) PreCheckUserPhonebook(log, templ, *phonebook, flags);
    }
    log.Line("* processing *.pbk");
    if (!phonebook) phonebook = std::make_unique<TMemIniFile>(platform, path);
    plan.existed = phonebook->Loaded() && ReadTextFileIfPresent(platform, path, plan.before);
    if (!flags.CreateEnabled && !phonebook->Loaded()) return plan;
    PassUserPhonebook(log, templ, *phonebook, flags);
    plan.after = phonebook->SaveText();
    plan.kept = true;
    plan.written = !plan.existed || plan.after != plan.before;
  } catch (const std::exception& error) {
    log.Error(kExceptionPrefix, error.what());
    plan.stopped = true;
  }
  return plan;
}

}  // namespace lw
