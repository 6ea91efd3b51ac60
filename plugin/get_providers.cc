#include "plugin/get_providers.h"

#include "plugin/VelmocairProvider.h"

std::vector<std::shared_ptr<Provider>> get_providers() {
  std::vector<std::shared_ptr<Provider>> providers;
  providers.push_back(std::make_shared<VelmocairProvider>());
  return providers;
}
