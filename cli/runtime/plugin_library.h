#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Provider.h"

class ORBSPDevice;

namespace velmocair::cli {

// The plug-in, loaded as the host loads it: dlopen, then dlsym of the plain
// name "get_providers", whose first serial-device provider creates the
// devices. Devices must be destroyed before the library.
class PluginLibrary {
 public:
  // Throws RunError with a one-line reason.
  explicit PluginLibrary(const std::string& path);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // A new device, owned by the caller.
  std::unique_ptr<ORBSPDevice> create_device() const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  std::vector<std::shared_ptr<Provider>> providers_;
  const ORBSPDeviceProvider* serial_ = nullptr;
};

// The built plug-in: libvelmocair.so next to the executable, in the build
// tree's plugin/ folder beside it, or in ../lib/velmocair of an installation.
// Throws RunError when none of them exists.
std::string default_plugin_path();

}  // namespace velmocair::cli
