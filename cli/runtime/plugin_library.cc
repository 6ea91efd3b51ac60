#include "cli/runtime/plugin_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <iterator>

#include "cli/options/exit_status.h"
#include "host/ORBSPDevice.h"
#include "plugin/get_providers.h"

namespace velmocair::cli {
namespace {

constexpr const char* kPluginFile = "libvelmocair.so";
// Folders searched for the plug-in, relative to the executable's folder.
constexpr const char* kPluginFolders[] = {".", "../plugin", "../lib/velmocair"};
static_assert(std::size(kPluginFolders) == 3);

std::string executable_folder() {
  std::array<char, PATH_MAX> path{};
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) {
    return ".";
  }
  const std::string executable(path.data(), static_cast<std::size_t>(length));
  return executable.substr(0, executable.rfind('/'));
}

}  // namespace

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    throw RunError(std::string("cannot load the plug-in: ") + dlerror());
  }
  const auto entry = reinterpret_cast<GetProvidersFunction>(dlsym(handle_, "get_providers"));
  if (entry == nullptr) {
    dlclose(handle_);
    throw RunError(path + ": the plug-in exports no get_providers");
  }
  providers_ = entry();
  for (const std::shared_ptr<Provider>& provider : providers_) {
    serial_ = dynamic_cast<const ORBSPDeviceProvider*>(provider.get());
    if (serial_ != nullptr) {
      return;
    }
  }
  providers_.clear();
  dlclose(handle_);
  throw RunError(path + ": the plug-in offers no serial-device provider");
}

PluginLibrary::~PluginLibrary() {
  providers_.clear();
  dlclose(handle_);
}

std::unique_ptr<ORBSPDevice> PluginLibrary::create_device() const {
  return std::unique_ptr<ORBSPDevice>(serial_->create());
}

std::string default_plugin_path() {
  const std::string folder = executable_folder();
  for (const char* relative : kPluginFolders) {
    const std::string candidate = folder + "/" + relative + "/" + kPluginFile;
    if (access(candidate.c_str(), R_OK) == 0) {
      return candidate;
    }
  }
  throw RunError(std::string("cannot find ") + kPluginFile + " beside " + folder +
                 ": give --plugin PATH");
}

}  // namespace velmocair::cli
