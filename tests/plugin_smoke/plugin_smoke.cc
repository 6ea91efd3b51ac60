// Loads a built plug-in as a host does and checks, against no reference
// output, that the host framework and the plug-in agree on what crosses
// between them: the entry point and its std::vector of std::shared_ptr, the
// provider's type and create(), the device's virtual operations, a
// std::string, an exception, an out parameter by reference and a Json::Value
// handed out by its address. It makes no call that needs a configured device
// or the host's services, so it runs against any host framework.
// Usage: plugin_smoke PATH/libvelmocair.so
#include <dlfcn.h>
#include <json/value.h>
#include <json/writer.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "commands/control_commands.h"
#include "device/Velmocair_Data_t.h"
#include "device/host_framework.h"
#include "plugin/get_providers.h"

namespace {

constexpr std::size_t kRecordSize = sizeof(Velmocair_Data_t);

class Checks {
 public:
  void expect(bool passed, const char* what) {
    ++count_;
    if (!passed) {
      std::fprintf(stderr, "plugin_smoke: FAILED: %s\n", what);
      ++failed_;
    }
  }
  int count() const { return count_; }
  int failed() const { return failed_; }

 private:
  int count_ = 0;
  int failed_ = 0;
};

std::string not_ready_message(VDeviceInterface& device) {
  try {
    device.Get_Value(0, "");
  } catch (const std::out_of_range& error) {
    return error.what();
  }
  return "";
}

void check_device(VDeviceInterface& device, Checks& checks) {
  checks.expect(device.DeviceType() == "velmocair", "device type is \"velmocair\"");
  checks.expect(device.DataId() == 0, "a new device has data id 0");
  checks.expect(!device.LoadFromCache(std::string(kRecordSize - 1, '\0')) &&
                    !device.LoadFromCache(std::string(kRecordSize + 1, '\0')),
                "a cached record of other than 441 bytes is refused");
  checks.expect(not_ready_message(device) == "数据未就绪",
                "Get_Value of a new device throws std::out_of_range(\"数据未就绪\")");

  int needed = -1;
  checks.expect(
      device.DeviceIoControl(velmocair::kStatusTextCode, nullptr, 0, nullptr, 0, needed) == -1 &&
          needed > 0,
      "the status text asks for room when given none");
  std::string text(needed > 0 ? static_cast<std::size_t>(needed) : 0, '\0');
  int written = -1;
  checks.expect(device.DeviceIoControl(velmocair::kStatusTextCode, nullptr, 0, text.data(), needed,
                                       written) == 0 &&
                    written == needed,
                "the status text fills the room it asked for");

  const Json::Value* document = nullptr;
  int width = -1;
  checks.expect(device.DeviceIoControl(velmocair::kStatusReferenceCode, nullptr, 0, &document,
                                       static_cast<int>(sizeof document), width) == 0 &&
                    width == static_cast<int>(sizeof document) && document != nullptr,
                "the status reference is a pointer");
  checks.expect(document != nullptr && Json::FastWriter().write(*document) == text,
                "the document at the reference reads as the status text");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: plugin_smoke PATH/libvelmocair.so\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "plugin_smoke: %s\n", dlerror());
    return 1;
  }
  auto* entry = reinterpret_cast<GetProvidersFunction>(dlsym(library, "get_providers"));
  if (entry == nullptr) {
    std::fprintf(stderr, "plugin_smoke: %s\n", dlerror());
    return 1;
  }

  Checks checks;
  {
    std::vector<std::shared_ptr<Provider>> providers = entry();
    checks.expect(providers.size() == 1, "get_providers returns one provider");
    const auto provider =
        providers.empty() ? nullptr : std::dynamic_pointer_cast<ORBSPDeviceProvider>(providers[0]);
    checks.expect(provider != nullptr, "the provider is an ORBSPDeviceProvider");
    if (provider != nullptr) {
      const std::unique_ptr<VDeviceInterface> first(provider->create());
      const std::unique_ptr<VDeviceInterface> second(provider->create());
      checks.expect(first != nullptr && second != nullptr && first != second,
                    "create() makes a new device each time");
      for (VDeviceInterface* device : {first.get(), second.get()}) {
        if (device != nullptr) {
          check_device(*device, checks);
        }
      }
    }
  }
  checks.expect(dlclose(library) == 0, "the plug-in unloads");

  if (checks.failed() != 0) {
    std::fprintf(stderr, "plugin_smoke: %s: %d of %d checks failed\n", argv[1], checks.failed(),
                 checks.count());
    return 1;
  }
  std::printf("plugin_smoke: %s: %d checks passed\n", argv[1], checks.count());
  return 0;
}
