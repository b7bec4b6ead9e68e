// lwtemplate: the administrators' tool for provisioning templates, a second program over
// the core library.
#include <string>
#include <vector>

#include "lwtemplate/tool.h"
#include "platform/system_platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  const auto platform = lw::CreateSystemPlatform(argc, argv);
  return lw::RunTemplateTool(*platform, args);
}
