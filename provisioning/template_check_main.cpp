// lw-template-check TEMPLATE: refuses a provisioning template the tool could not use.
// Exit status 0 when usable, 1 when refused, 2 when the file cannot be read.
#include <iostream>
#include <string>

#include "ini/mem_ini_file.h"
#include "platform/system_platform.h"
#include "provisioning/template_checker.h"
#include "support/exception.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: lw-template-check TEMPLATE\n";
    return 2;
  }
  const std::string path = argv[1];
  const auto platform = lw::CreateSystemPlatform(argc, argv);
  try {
    const lw::TMemIniFile templ(*platform, path);
    if (!templ.Loaded()) {
      std::cerr << path << ": no such template file\n";
      return 2;
    }
    const auto problems = lw::CheckTemplate(*platform, templ);
    for (const auto& problem : problems) std::cerr << path << ": " << problem.Text() << "\n";
    if (!problems.empty()) {
      std::cerr << path << ": template refused (" << problems.size() << " problem"
                << (problems.size() == 1 ? "" : "s") << ")\n";
      return 1;
    }
  } catch (const lw::Exception& error) {
    std::cerr << path << ": " << error.Message() << "\n";
    return 2;
  }
  return 0;
}
