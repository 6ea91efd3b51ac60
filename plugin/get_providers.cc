#include "plugin/get_providers.h"

#include "device/Velmocair.h"
#include "plugin/VelmocairProvider.h"

// The entry point and the provider it hands out share one translation unit:
// the host framework's headers bring a stream initialiser into every unit
// that includes them, and one is enough.

std::vector<std::shared_ptr<Provider>> get_providers() {
  std::vector<std::shared_ptr<Provider>> providers;
  providers.push_back(std::make_shared<VelmocairProvider>());
  return providers;
}

VelmocairProvider::~VelmocairProvider() = default;

VelmocairProvider::DevicePointer VelmocairProvider::create() const { return new Velmocair(); }
